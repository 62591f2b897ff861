#include "model/ParTimes.h"
#include "model/RunTime.h"
#include "model/TrackFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

TEST(ParTimes, TheMedalRuleAtItsEdges)
{
    EXPECT_EQ(medalFor(999, 1000), Medal::Gold);
    EXPECT_EQ(medalFor(1000, 1000), Medal::Gold);
    EXPECT_EQ(medalFor(1001, 1000), Medal::Silver);
    EXPECT_EQ(medalFor(1250, 1000), Medal::Silver);   // exactly 25 % over
    EXPECT_EQ(medalFor(1251, 1000), Medal::Bronze);
    EXPECT_EQ(medalFor(1251, 1001), Medal::Silver);   // 1.25 x 1001 = 1251.25
    EXPECT_EQ(medalFor(1252, 1001), Medal::Bronze);
    EXPECT_EQ(medalFor(2000000000, 1000), Medal::Bronze);
    EXPECT_EQ(medalFor(500, -1), Medal::None);         // no par
    EXPECT_EQ(medalFor(-1, 1000), Medal::None);        // no finish
    EXPECT_STREQ(medalName(Medal::Silver), "silver");
    // Stored times in days come back as the steps they were made of.
    for (int32_t steps : {0, 1, 856, 6725, 359999}) {
        EXPECT_EQ(stepsOfRunTime(runTimeOfSteps(steps)), steps);
    }
    EXPECT_EQ(stepsOfRunTime(-1.0), -1);
    EXPECT_EQ(stepsOfRunTime(1e300), -1);
}

TEST(ParTimes, TheReaderKeepsGoodLinesAndSkipsTheRest)
{
    const std::vector<ParTime> written = {{"01-a.vlt", 0x5f3a0c19e2d4b786ull, 1200}, {"02-b.vlt", 1, 300}};
    const ParTimes index = ParTimes::parse(formatParTimes(written) +
                                           "03-c.vlt 00000000000000ff 0\n"          // par below 1
                                           "04-d.vlt 00000000000000ff 360001\n"     // over an hour
                                           "05-e.vlt 00ff 100\n"                    // short digest
                                           "06-f.vlt 000000000000000g 100\n"        // not hex
                                           "../07.vlt 0000000000000001 100\n"       // a folder in the name
                                           "08-h.vlt 0000000000000001 100 extra\n"  // a field too many
                                           "09-i.vlt 0000000000000001 12x\n"
                                           "01-a.vlt 0000000000000001 50\r\n"       // given twice: the first holds
                                           "10-j.vlt\t0000000000000002\t700\r\n"
                                           "11-k.vlt 0000000000000003 " +
                                           std::string(2000, '9') + "\n");
    EXPECT_EQ(index.size(), 3u);
    EXPECT_EQ(index.parFor("01-a.vlt", 0x5f3a0c19e2d4b786ull), 1200);
    EXPECT_EQ(index.parFor("01-a.vlt", 1), -1) << "another version of the track has no par";
    EXPECT_EQ(index.parFor("02-b.vlt", 1), 300);
    EXPECT_EQ(index.parFor("10-j.vlt", 2), 700);
    EXPECT_EQ(index.parFor("03-c.vlt", 255), -1);
    EXPECT_EQ(index.parFor("missing.vlt", 1), -1);

    // Past the size limit nothing is read, not even a line cut in two.
    std::string big = "02-b.vlt 0000000000000001 300\n";
    big += std::string(kMaxParFileBytes - big.size() - 10, '#');
    big += "\n01-a.vlt 0000000000000001 123456789\n";
    const ParTimes cut = ParTimes::parse(big);
    EXPECT_EQ(cut.parFor("02-b.vlt", 1), 300);
    EXPECT_EQ(cut.parFor("01-a.vlt", 1), -1);
}

TEST(ParTimes, AFolderIndexIsWrittenWholeAndReadBack)
{
    const auto dir = std::filesystem::temp_directory_path() / "velto-par-times-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    EXPECT_EQ(ParTimes::readFolder(dir.string()).size(), 0u);
    ASSERT_TRUE(writeParTimes((dir / kParFileName).string(), {{"a.vlt", 7, 900}}));
    EXPECT_EQ(ParTimes::readFolder(dir.string()).parFor("a.vlt", 7), 900);
    EXPECT_FALSE(std::filesystem::exists(dir / (std::string(kParFileName) + ".new")));
    EXPECT_FALSE(writeParTimes((dir / "no-such-folder" / kParFileName).string(), {}));
    // A FIFO in the list's place is no list, and never holds the game.
    std::filesystem::remove(dir / kParFileName);
    ASSERT_EQ(mkfifo((dir / kParFileName).c_str(), 0644), 0);
    EXPECT_EQ(ParTimes::readFolder(dir.string()).size(), 0u);
    std::filesystem::remove(dir / kParFileName);

    // The folder's tracks: ".vlt" in any case, folders left out, by name.
    for (const char* name : {"b.vlt", "A.VLT", "c.txt", "a.vlt"}) {
        std::ofstream(dir / name) << "x";
    }
    std::filesystem::create_directories(dir / "d.vlt");
    const std::string base = dir.string() + "/";
    EXPECT_EQ(trackFilesIn(dir.string()), (std::vector<std::string>{base + "A.VLT", base + "a.vlt", base + "b.vlt"}));
    EXPECT_EQ(trackAfter(base + "a.vlt", trackFilesIn(dir.string())), base + "b.vlt");
    EXPECT_EQ(trackAfter(base + "b.vlt", trackFilesIn(dir.string())), "");
    EXPECT_EQ(trackAfter(base + "0-gone.vlt", trackFilesIn(dir.string())), base + "A.VLT");
    EXPECT_EQ(folderOf("x.vlt"), ".");
    EXPECT_EQ(folderOf("/x.vlt"), "/");
    EXPECT_TRUE(trackFilesIn((dir / "none").string()).empty());
    std::filesystem::remove_all(dir);
}
