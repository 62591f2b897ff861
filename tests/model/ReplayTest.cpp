// Replay files: their text, their reading from untrusted files, their
// whole-or-nothing writing, and the digest that names a track.
#include "../physics/TestTracks.h"

#include "model/Replay.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
