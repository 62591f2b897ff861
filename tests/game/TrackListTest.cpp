// The track list's rows and the next-track key's choice, without a window:
// every file of the folder is listed in name order, those that cannot be
// read as such, and the pars of the folder's index give the medals.
#include "GameTestSupport.h"

#include "game/GameWindow.h"
#include "game/TrackList.h"
#include "model/Globals.h"
#include "model/ParTimes.h"
#include "model/Replay.h"
#include "model/RunTime.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

TEST(TrackList, BadFilesAreListedAsSuchAndPassedOverByNext)
{
    gameMode = true;
    const fs::path dir = scratchDir("track-list");
    TestTrack track;
    track.bestTime = runTimeOfSteps(1100);
    ASSERT_TRUE(writeTestTrack((dir / "01-gold.vlt").string(), track));
    track.bestTime = runTimeOfSteps(1300);
    ASSERT_TRUE(writeTestTrack((dir / "02-silver.vlt").string(), track));
    track.bestTime = -1.0;
    ASSERT_TRUE(writeTestTrack((dir / "05-unridden.vlt").string(), track));
    track.bestTime = runTimeOfSteps(900);
    track.finishX = 1500.0;   // another track than the index's
    ASSERT_TRUE(writeTestTrack((dir / "06-changed.vlt").string(), track));
    std::ofstream(dir / "03-empty.vlt");
    std::ofstream(dir / "04-cut.vlt") << std::string("\0\0\0\0\0\0\xf0\xbf", 8) << "short";
    std::ofstream(dir / "notes.txt") << "not a track";
    fs::create_directories(dir / "07-folder.vlt");

    // 01, 02 and 05 are one track under three names (the digest leaves the
    // best time out); every entry of the index names that track's digest.
    std::vector<ParTime> pars;
    for (const char* name : {"01-gold.vlt", "02-silver.vlt", "05-unridden.vlt", "06-changed.vlt"}) {
        uint64_t digest = 0;
        ASSERT_TRUE(trackDigest((dir / "01-gold.vlt").string(), digest));
        pars.push_back({name, digest, 1100});
    }
    ASSERT_TRUE(writeParTimes((dir / kParFileName).string(), pars));

    TrackList list;
    list.open((dir / "02-silver.vlt").string());
    ASSERT_EQ(list.rows.size(), 6u);
    EXPECT_EQ(list.selected, 1u);
    EXPECT_FALSE(list.allRead());
    list.readSome(2, 4, std::chrono::seconds(5), true);
    EXPECT_EQ(list.rows[0].state, TrackRow::State::Unread) << "only the rows shown are read first";
    EXPECT_EQ(list.rows[3].state, TrackRow::State::Broken);
    list.readSome(0, 0, std::chrono::milliseconds(0));
    EXPECT_EQ(list.rows[0].state, TrackRow::State::Ready) << "a budget of nothing still reads a row";
    EXPECT_EQ(list.rows[1].state, TrackRow::State::Unread);
    list.readSome(0, 0, std::chrono::seconds(5));
    ASSERT_TRUE(list.allRead());

    const std::vector<std::string> names = {"01-gold", "02-silver", "03-empty", "04-cut", "05-unridden", "06-changed"};
    const std::vector<TrackRow::State> states = {TrackRow::State::Ready,  TrackRow::State::Ready,
                                                 TrackRow::State::Broken, TrackRow::State::Broken,
                                                 TrackRow::State::Ready,  TrackRow::State::Ready};
    const std::vector<Medal> medals = {Medal::Gold, Medal::Silver, Medal::None, Medal::None, Medal::None, Medal::None};
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(list.rows[i].name, names[i]);
        EXPECT_EQ(list.rows[i].state, states[i]) << names[i];
        EXPECT_EQ(list.rows[i].medal, medals[i]) << names[i];
    }
    EXPECT_EQ(list.rows[4].parSteps, 1100);
    EXPECT_EQ(list.rows[5].parSteps, -1) << "a changed track has no par";
    EXPECT_EQ(trackColumns()[1].text(list.rows[5]), "00:09:00") << "but keeps its best time";
    EXPECT_EQ(trackColumns()[2].text(list.rows[0]), "00:11:00");
    const MedalCount count = list.medals();
    EXPECT_EQ(count.gold, 1);
    EXPECT_EQ(count.silver, 1);
    EXPECT_EQ(count.bronze, 0);

    EXPECT_EQ(nextReadableTrack((dir / "02-silver.vlt").string()), (dir / "05-unridden.vlt").string());
    EXPECT_EQ(nextReadableTrack((dir / "06-changed.vlt").string()), "");
    fs::remove_all(dir);
}

TEST(TrackList, TheFinishLineComparesWithParAndThePreviousBest)
{
    EXPECT_EQ(finishComparison(1034, 1100, 1046), "Gold   -0.66 s vs par   -0.12 s vs best");
    EXPECT_EQ(finishComparison(1100, 1100, -1), "Gold   0.00 s vs par   first finish");
    EXPECT_EQ(finishComparison(1300, 1100, 1200), "Silver   +2.00 s vs par   +1.00 s vs best");
    EXPECT_EQ(finishComparison(1400, 1100, 1400), "Bronze   +3.00 s vs par   0.00 s vs best");
    EXPECT_EQ(finishComparison(905, -1, 1000), "-0.95 s vs best");
    EXPECT_EQ(finishComparison(905, -1, -1), "");
}
