// Replay files: their text, their reading from untrusted files, their
// whole-or-nothing writing, and the digest that names a track.
#include "../physics/TestTracks.h"

#include "model/Replay.h"
#include "model/TrackFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Replay sample()
{
    Replay replay;
    replay.trackName = "a b.vlt";
    replay.digest = 0x0123456789abcdefULL;
    replay.result = ReplayFinished;
    replay.steps = 6725;
    replay.changes = {{0, KeyUp}, {20, KeyUp | KeyRight}, {35, 0}, {6000, KeyLeft | KeyDown | KeySpace}};
    return replay;
}

TEST(Replay, TextIsAKeyScriptWithAHeaderAndReadsBackAsWritten)
{
    const std::string text = formatReplay(sample());
    EXPECT_EQ(text, "# velto replay 2\n# track: a b.vlt\n# digest: 0123456789abcdef\n"
                    "# result: finished steps: 6725 time: 01:07:25\n0 U\n20 RU\n35\n6000 LDS\n# end\n");
    std::vector<KeyChange> changes;
    std::string error;
    ASSERT_TRUE(parseKeyScript(text, changes, error)) << error;
    EXPECT_EQ(changes.size(), 4u);

    Replay back;
    ASSERT_TRUE(parseReplay(text, back, error)) << error;
    EXPECT_EQ(formatReplay(back), text);
    // CRLF line ends read the same.
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    ASSERT_TRUE(parseReplay(crlf, back, error)) << error;
    EXPECT_EQ(formatReplay(back), text);
}

TEST(Replay, MalformedOrCutTextIsRefusedWithoutHarm)
{
    const std::string good = formatReplay(sample());
    struct Bad {
        std::string text;
        const char* why;
    };
    const std::string body = "0 U\n";
    for (const Bad& bad : {
             Bad{"", "line 1"},
             Bad{"0 U\n", "line 1"},
             Bad{"# velto replay 3\n", "version 3"},
             Bad{"# velto replay 99999999999\n", "line 1"},
             Bad{"# velto replay 2\n# track: \n", "line 2"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123\n", "line 3"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123456789ABCDEF\n", "line 3"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123456789abcdef\n# result: won steps: 1 time: 00:00:01\n", "line 4"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123456789abcdef\n# result: finished steps: 2 time: 00:00:01\n", "line 4"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123456789abcdef\n# result: finished steps: -1 time: 00:00:00\n", "line 4"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123456789abcdef\n# result: finished steps: 3 time: 00:00:03\n0 U\n3 D\n# end\n", "beyond"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123456789abcdef\n# result: finished steps: 3 time: 00:00:03\n0 U\n0 D\n# end\n", "line 6"},
             Bad{"# velto replay 2\n# track: t\n# digest: 0123456789abcdef\n# result: finished steps: 3 time: 00:00:03\n0 X\n# end\n", "line 5"},
         }) {
        Replay replay;
        std::string error;
        EXPECT_FALSE(parseReplay(bad.text, replay, error)) << bad.text;
        EXPECT_NE(error.find(bad.why), std::string::npos) << bad.text << " -> " << error;
    }
    const std::string header =
        "# velto replay 2\n# track: t\n# digest: 0123456789abcdef\n# result: finished steps: 3 time: 00:00:03\n";
    for (const Bad& bad : {
             Bad{header + "0 U\n", "closing line"},
             Bad{header + "0 U\n# end", "closing line"},
             Bad{header + "0 U\n# end\n1 D\n", "closing line"},
             Bad{header + "0 U\n# end\n\n", "closing line"},
             Bad{header + "0 U\n# ends\n", "closing line"},
         }) {
        Replay replay;
        std::string error;
        EXPECT_EQ(parseReplayText(bad.text, replay, error), ReplayReadError::Malformed) << bad.text;
        EXPECT_NE(error.find(bad.why), std::string::npos) << bad.text << " -> " << error;
    }
    // Cut anywhere, even among the key lines or inside the closing line, a
    // replay is refused: a cut "6000 LDS" line would read as a change at
    // step 60.
    for (size_t n = 0; n < good.size(); ++n) {
        Replay replay;
        std::string error;
        EXPECT_FALSE(parseReplay(good.substr(0, n), replay, error)) << n << ": " << good.substr(0, n);
    }
}

TEST(Replay, AReplayOfTheEarlierPhysicsIsToldApart)
{
    const std::string text = "# velto replay 1\n# track: a.vlt\n# digest: 0123456789abcdef\n"
                             "# result: finished steps: 967 time: 00:09:67\n0 U\n22 RU\n";
    Replay replay;
    std::string error;
    EXPECT_EQ(parseReplayText(text, replay, error), ReplayReadError::EarlierPhysics);
    EXPECT_EQ(error, kEarlierPhysicsText);
    EXPECT_EQ(replay.trackName, "a.vlt");
    EXPECT_EQ(replay.steps, 967);
    EXPECT_TRUE(replay.changes.empty());

    testtracks::TempDir dir;
    EXPECT_EQ(readReplayFile(dir.write("old.replay", text), replay, error), ReplayReadError::EarlierPhysics);
}

TEST(Replay, FilesAreReadWithinTheirLimitAndWrittenWholeOrNotAtAll)
{
    testtracks::TempDir dir;
    Replay replay;
    std::string error;
    EXPECT_EQ(readReplayFile(dir.file("none.replay"), replay, error), ReplayReadError::Missing);
    EXPECT_EQ(readReplayFile(dir.file(""), replay, error), ReplayReadError::Unreadable);
    EXPECT_EQ(readReplayFile(dir.write("bad.replay", "# velto replay 2\n\xff\n"), replay, error),
              ReplayReadError::Malformed);
    // A file past the limit is refused before it is parsed, even when it
    // would parse: its key lines are comments.
    std::string huge = formatReplay(sample());
    huge.resize(kMaxReplayBytes + 1, '#');
    EXPECT_EQ(readReplayFile(dir.write("huge.replay", huge), replay, error), ReplayReadError::TooLarge);

    const std::string path = dir.file("run.replay");
    ASSERT_TRUE(writeReplayFile(path, sample()));
    ASSERT_EQ(readReplayFile(path, replay, error), ReplayReadError::None) << error;
    EXPECT_EQ(formatReplay(replay), formatReplay(sample()));
    // A failed write leaves no stray file; one that cannot take the place
    // of what stands there leaves that as it was.
    EXPECT_FALSE(writeReplayFile(dir.file("missing/run.replay"), sample()));
    std::filesystem::create_directory(dir.file("taken.replay"));
    EXPECT_FALSE(writeReplayFile(dir.file("taken.replay"), sample()));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.replay")));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.file(""))) {
        ++files;
    }
    EXPECT_EQ(files, 4u);   // bad, huge, run, taken and nothing else
}

TEST(Replay, DigestNamesTheTrackWithoutItsBestTime)
{
    testtracks::TempDir dir;
    testtracks::Track track;
    track.polygons.push_back(testtracks::flatGround());
    const std::string path = dir.writeTrack("t.vlt", track);
    uint64_t first = 0;
    ASSERT_TRUE(trackDigest(path, first));

    track.bestTime = 0.001;
    uint64_t timed = 0;
    ASSERT_TRUE(trackDigest(dir.writeTrack("t.vlt", track), timed));
    EXPECT_EQ(timed, first);

    track.finish.first += 1.0;
    uint64_t moved = 0;
    ASSERT_TRUE(trackDigest(dir.writeTrack("t.vlt", track), moved));
    EXPECT_NE(moved, first);

    uint64_t none = 0;
    EXPECT_FALSE(trackDigest(dir.file("missing.vlt"), none));
    EXPECT_FALSE(trackDigest(dir.write("short.vlt", "1234567"), none));

    EXPECT_EQ(bestReplayPath("tracks/a.vlt"), "tracks/a.replay");
    EXPECT_EQ(bestReplayPath("my.tracks/a"), "my.tracks/a.replay");
    EXPECT_EQ(fileNameOf("/x/y/a.vlt"), "a.vlt");
}

} // namespace

TEST(Replay, TrackNamesOfAnyBytesReadBackAsWrittenOnTheirOneLine)
{
    for (const std::string& name : {std::string("01-idlt\r\r\r"), std::string("a\nb.vlt"), std::string("tab\there"),
                                   std::string("nul\0\x7f", 5), std::string("back\\x41slash\\"),
                                   std::string("\\x5c\\\\xff"), std::string("\xc3\xa9t\xc3\xa9.vlt")}) {
        Replay replay = sample();
        replay.trackName = name;
        const std::string text = formatReplay(replay);
        Replay back;
        std::string error;
        ASSERT_TRUE(parseReplay(text, back, error)) << error;
        EXPECT_EQ(back.trackName, name);
        EXPECT_EQ(formatReplay(back), text);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);   // header, keys, closing line
    }
}

TEST(Replay, TracksOfLongNamesKeepTheirBestReplay)
{
    testtracks::TempDir dir;
    std::string error;
    for (const size_t length : {size_t{244}, size_t{248}, size_t{249}, size_t{253}, size_t{255}}) {
        const std::string track = dir.file(std::string(length - 4, 'n') + ".vlt");
        const std::string path = bestReplayPath(track);
        EXPECT_LE(std::filesystem::path(path).filename().string().size(), kMaxFileNameBytes) << length;
        EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(track).parent_path());
        ASSERT_TRUE(writeReplayFile(path, sample())) << length;
        Replay back;
        ASSERT_EQ(readReplayFile(path, back, error), ReplayReadError::None) << error;
        EXPECT_EQ(formatReplay(back), formatReplay(sample()));
    }
    // Names cut alike stay apart; short ones keep the plain name.
    EXPECT_NE(bestReplayPath(std::string(260, 'a') + "1.vlt"), bestReplayPath(std::string(260, 'a') + "2.vlt"));
    EXPECT_EQ(bestReplayPath(std::string(244, 'a') + ".vlt"), std::string(244, 'a') + ".replay");
    // The demo beside a track is named alike, and never as its best run.
    EXPECT_EQ(demoReplayPath("tracks/a.vlt"), "tracks/a.demo");
    const std::string cut = demoReplayPath(std::string(260, 'a') + ".vlt");
    EXPECT_LE(cut.size(), kMaxFileNameBytes);
    EXPECT_EQ(cut.substr(cut.size() - 5), ".demo");
    EXPECT_NE(cut, bestReplayPath(std::string(260, 'a') + ".vlt"));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.file(""))) {
        ++files;
    }
    EXPECT_EQ(files, 5u);   // no temporary file left behind
}

// Runs `read` against a FIFO that has no writer. A reader that waits for
// one is let go after a few seconds by opening the FIFO for writing, and
// false returns.
template <class Read>
bool returnsWithoutAWriter(const std::string& fifo, Read read)
{
    std::future<void> done = std::async(std::launch::async, read);
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
        return true;
    }
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
    }
    done.wait();
    return false;
}

TEST(Replay, FifosUnderTheNamesOfReplaysAndTracksAreRefusedWithoutWaiting)
{
    testtracks::TempDir dir;
    const std::string fifo = dir.file("track.replay");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ReplayReadError read = ReplayReadError::None;
    EXPECT_TRUE(returnsWithoutAWriter(fifo, [&] {
        Replay replay;
        std::string error;
        read = readReplayFile(fifo, replay, error);
    }));
    EXPECT_EQ(read, ReplayReadError::Unreadable);
    bool digested = true;
    EXPECT_TRUE(returnsWithoutAWriter(fifo, [&] {
        uint64_t digest = 0;
        digested = trackDigest(fifo, digest);
    }));
    EXPECT_FALSE(digested);
    bool loaded = true;
    EXPECT_TRUE(returnsWithoutAWriter(fifo, [&] {
        Cvector* start = nullptr;
        Cvector* finish = nullptr;
        Cpolygons* polygons = nullptr;
        Capples* apples = nullptr;
        int32_t polygonCount = 0, appleCount = 0;
        double best = 0.0;
        loaded = loadTrack(fifo, start, finish, polygonCount, polygons, appleCount, apples, best);
        delete start;
        delete finish;
        delete polygons;
        delete apples;
    }));
    EXPECT_FALSE(loaded);
}
