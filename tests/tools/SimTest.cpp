// Runs velto-sim on the small tracks of tests/data/physics and checks what a
// player would see: the bike settles, drives, collects, finishes, crashes and
// turns around.
#include "../physics/TestTracks.h"

#include "model/Globals.h"
#include "physics/Balls.h"
#include "physics/World.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using testtracks::Track;

const std::string kSim = std::string(VELTO_BINARY_DIR) + "/velto-sim";
const std::string kData = std::string(VELTO_SOURCE_DIR) + "/tests/data/physics/";
constexpr double kR = 80.0 / 3.0;

// Trace fields.
enum Field {
    Step, Result, Apples, Facing,
    FrameX, FrameY, FrameVX, FrameVY, FrameAngle, FrameSpin,
    FrontX, FrontY, FrontVX, FrontVY, FrontAngle, FrontSpin,
    RearX, RearY, RearVX, RearVY, RearAngle, RearSpin,
    HeadX, HeadY,
    FieldCount
};
using Row = std::array<double, FieldCount>;

// The text form of a track: "start X Y", "finish X Y", "best DAYS",
// "polygon X Y X Y ...", "apple X Y"; '#' starts a comment line.
Track readTrackText(const std::string& path)
{
    Track track;
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word[0] == '#') {
            continue;
        }
        double x = 0.0;
        double y = 0.0;
        if (word == "start") {
            words >> track.start.first >> track.start.second;
        } else if (word == "finish") {
            words >> track.finish.first >> track.finish.second;
        } else if (word == "best") {
            words >> track.bestTime;
        } else if (word == "apple") {
            words >> x >> y;
            track.apples.push_back({x, y});
        } else if (word == "polygon") {
            track.polygons.emplace_back();
            while (words >> x >> y) {
                track.polygons.back().push_back({x, y});
            }
        } else {
            ADD_FAILURE() << path << ": " << line;
        }
    }
    return track;
}

struct SimRun {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<Row> rows;
    std::string last;
};

std::string quote(const std::string& s)
{
    return "'" + s + "'";
}

class SimTest : public ::testing::Test {
protected:
    std::string track(const std::string& name)
    {
        return dir.writeTrack(name + ".vlt", readTrackText(kData + name + ".track"));
    }

    // `shell` goes before the command, in the same shell (limits, timeout).
    // `traceLines`: every output line but the result line is a trace line.
    SimRun run(const std::string& args, const std::string& shell = "", bool traceLines = true)
    {
        SimRun r;
        const std::string errFile = dir.file("stderr.txt");
        const std::string command = shell + quote(kSim) + " " + args + " 2>" + quote(errFile);
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            ADD_FAILURE() << "cannot run " << command;
            return r;
        }
        char buffer[65536];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            r.out.append(buffer, n);
        }
        const int raw = pclose(pipe);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        std::ifstream err(errFile);
        r.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());

        std::istringstream lines(traceLines ? r.out : std::string());
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind("result:", 0) == 0) {
                r.last = line;
                continue;
            }
            std::istringstream fields(line);
            Row row{};
            int count = 0;
            double value = 0.0;
            while (fields >> value) {
                if (count < FieldCount) {
                    row[count] = value;
                }
                ++count;
            }
            EXPECT_EQ(count, FieldCount) << line;
            r.rows.push_back(row);
        }
        return r;
    }

    SimRun ride(const std::string& trackName, const std::string& keysName, int maxSteps)
    {
        std::string args = quote(track(trackName)) + " --trace --max-steps " + std::to_string(maxSteps);
        if (!keysName.empty()) {
            args += " --keys " + quote(kData + keysName + ".keys");
        }
        SimRun r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r;
    }

    testtracks::TempDir dir;
};

// The frame angle as a tilt in (-180, 180].
double tilt(double angle)
{
    double a = std::fmod(angle, 360.0);
    if (a > 180.0) {
        a -= 360.0;
    }
    if (a <= -180.0) {
        a += 360.0;
    }
    return a;
}

bool allFinite(const std::vector<Row>& rows)
{
    for (const Row& row : rows) {
        for (double v : row) {
            if (!std::isfinite(v)) {
                return false;
            }
        }
    }
    return true;
}

TEST_F(SimTest, BikeSettlesOnFlatGround)
{
    const SimRun r = ride("flat", "", 400);
    ASSERT_EQ(r.rows.size(), 400u);
    EXPECT_EQ(r.last, "result: running steps: 400 time: 00:04:00");
    EXPECT_TRUE(allFinite(r.rows));
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const Row& row = r.rows[i];
        EXPECT_EQ(row[Step], static_cast<double>(i + 1));
        EXPECT_EQ(row[Result], 0.0);
        // It lands on its wheels and never sinks or flies off.
        EXPECT_GT(row[FrontY], kR - 0.5) << i;
        EXPECT_GT(row[RearY], kR - 0.5) << i;
        EXPECT_GT(row[FrameY], 30.0) << i;
        EXPECT_LT(row[FrameY], 75.0) << i;
        EXPECT_LT(std::fabs(tilt(row[FrameAngle])), 5.0) << i;
    }
    // The last second: at rest on both wheels.
    for (size_t i = 300; i < 400; ++i) {
        const Row& row = r.rows[i];
        EXPECT_NEAR(row[FrontY], kR, 0.01);
        EXPECT_NEAR(row[RearY], kR, 0.01);
        EXPECT_LT(std::fabs(row[FrameVY]), 2.0);
        EXPECT_LT(std::fabs(row[FrameVX]), 0.5);
        EXPECT_NEAR(row[FrameX], 0.0, 1.0);
    }
    // The bounce dies away.
    double early = 0.0;
    double late = 0.0;
    for (size_t i = 20; i < 120; ++i) {
        early = std::max(early, std::fabs(r.rows[i][FrameVY]));
    }
    for (size_t i = 300; i < 400; ++i) {
        late = std::max(late, std::fabs(r.rows[i][FrameVY]));
    }
    EXPECT_LT(late, early / 5.0);
}

TEST_F(SimTest, ThrottleDrivesTheBikeForwardOnRollingWheels)
{
    const SimRun r = ride("flat", "drive", 500);
    ASSERT_EQ(r.rows.size(), 500u);
    EXPECT_EQ(r.last, "result: running steps: 500 time: 00:05:00");
    EXPECT_TRUE(allFinite(r.rows));
    EXPECT_GT(r.rows.back()[FrameX], 1000.0);
    for (size_t i = 100; i < 500; ++i) {
        const Row& row = r.rows[i];
        EXPECT_GT(row[FrameVX], r.rows[i - 50][FrameVX]) << "speeds up, step " << i;
        EXPECT_LT(std::fabs(tilt(row[FrameAngle])), 10.0) << i;
        // Rolling without sliding: each wheel's surface speed is the speed
        // at which it actually moves over the ground.
        for (const auto& [x, spin] : {std::pair{FrontX, FrontSpin}, {RearX, RearSpin}}) {
            const double moved = (row[x] - r.rows[i - 1][x]) / 0.01;
            EXPECT_NEAR(-row[spin] * kPi * kR / 180.0, moved, 0.005 * moved + 0.5) << i;
        }
    }
}

TEST_F(SimTest, RunFinishesAfterTheApplesAreCollected)
{
    for (const auto& [trackName, keys] : {std::pair{"apples", "drive"}, {"hill", "hill"}}) {
        const SimRun r = ride(trackName, keys, 3000);
        ASSERT_FALSE(r.rows.empty());
        EXPECT_EQ(r.last.rfind("result: finished steps: " + std::to_string(r.rows.size()) + " time: ", 0), 0u)
            << r.last;
        EXPECT_EQ(r.rows.back()[Result], 1.0);
        EXPECT_EQ(r.rows.back()[Apples], 0.0);
        const double apples = readTrackText(kData + trackName + ".track").apples.size();
        double previous = apples;
        for (const Row& row : r.rows) {
            EXPECT_LE(row[Apples], previous);
            previous = row[Apples];
        }
        EXPECT_EQ(r.rows.front()[Apples], apples);
    }
}

TEST_F(SimTest, HillIsClimbedOnTheGround)
{
    const SimRun r = ride("hill", "hill", 3000);
    ASSERT_FALSE(r.rows.empty());
    int onPlateau = 0;
    for (const Row& row : r.rows) {
        // On the plateau (x 1200 to 1800, y 150) the wheels run on top of it.
        if (row[FrontX] > 1250.0 && row[FrontX] < 1750.0) {
            EXPECT_NEAR(row[FrontY], 150.0 + kR, 2.0);
            ++onPlateau;
        }
        // The apple at (1500, 190) is gone once the front wheel is past it.
        if (row[FrontX] > 1550.0) {
            EXPECT_EQ(row[Apples], 0.0);
        }
    }
    EXPECT_GT(onPlateau, 100);
    EXPECT_EQ(r.rows.back()[Result], 1.0);
}

TEST_F(SimTest, FinishDoesNotCountWhileAnAppleIsLeft)
{
    const SimRun r = ride("finish-first", "drive", 600);
    EXPECT_EQ(r.last, "result: running steps: 600 time: 00:06:00");
    bool passedFinish = false;
    for (const Row& row : r.rows) {
        passedFinish = passedFinish || (row[FrontX] > 500.0 && row[Apples] == 1.0);
        EXPECT_EQ(row[Result], 0.0);
    }
    EXPECT_TRUE(passedFinish);
    EXPECT_EQ(r.rows.back()[Apples], 0.0);
}

TEST_F(SimTest, LeaningTooFarCrashes)
{
    // Leaning back in the air: the bike turns over and lands on the head.
    const SimRun fall = ride("high", "lean", 3000);
    EXPECT_EQ(fall.last.rfind("result: crashed", 0), 0u) << fall.last;
    ASSERT_FALSE(fall.rows.empty());
    EXPECT_EQ(fall.rows.back()[Result], 2.0);
    double most = 0.0;
    for (const Row& row : fall.rows) {
        most = std::max(most, std::fabs(tilt(row[FrameAngle])));
    }
    EXPECT_GT(most, 90.0);

    // Throttle alone lifts the front until the bike goes over backwards.
    const SimRun wheelie = ride("flat", "wheelie", 3000);
    EXPECT_EQ(wheelie.last.rfind("result: crashed", 0), 0u) << wheelie.last;
    ASSERT_FALSE(wheelie.rows.empty());
    EXPECT_GT(tilt(wheelie.rows.back()[FrameAngle]), 60.0);
    EXPECT_LT(wheelie.rows.back()[HeadY], wheelie.rows.back()[FrameY]);
}

TEST_F(SimTest, SpaceTurnsTheBikeAround)
{
    const SimRun r = ride("flat", "turn", 500);
    ASSERT_EQ(r.rows.size(), 500u);
    EXPECT_EQ(r.rows[99][Facing], 1.0);
    for (size_t i = 100; i < 500; ++i) {
        EXPECT_EQ(r.rows[i][Facing], -1.0) << i;   // once, although Space is held 5 steps
    }
    // The wheel in the front slot is now on the left, and the bike rides left.
    EXPECT_LT(r.rows[140][FrontX], r.rows[140][FrameX] - 60.0);
    EXPECT_GT(r.rows[140][RearX], r.rows[140][FrameX] + 50.0);
    EXPECT_LT(r.rows.back()[FrameX], -500.0);
    EXPECT_LT(r.rows.back()[FrameVX], -100.0);
    EXPECT_LT(std::fabs(tilt(r.rows.back()[FrameAngle])), 10.0);
}

TEST_F(SimTest, TraceIsTheGameStepItself)
{
    const int steps = 400;
    const SimRun r = ride("rock", "hill", steps);
    ASSERT_EQ(r.rows.size(), static_cast<size_t>(steps));

    // Another ride first, in this process, that leaves the bike turned
    // round, braking and spun by its last contact: the ride after it must be
    // the one a fresh process gives.
    ASSERT_TRUE(buildWorld(track("flat")));
    clearKeys();
    for (int i = 0; i < 150; ++i) {
        keyDown[VK_UP] = i < 100;
        keyDown[VK_DOWN] = i >= 120;
        keyDown[VK_SPACE] = i >= 130;
        stepWorld(kStepSeconds);
    }
    ASSERT_EQ(facing.load(), -1);
    ASSERT_TRUE(braking && turnLatch);
    ASSERT_NE(contactAngularVelocity, 0.0);

    // The same ride in this process, through the library's step.
    ASSERT_TRUE(buildWorld(track("rock")));
    clearKeys();
    std::istringstream lines(r.out);
    std::string line;
    for (int i = 0; i < steps; ++i) {
        keyDown[VK_UP] = i >= 50 && i < 300;
        keyDown[VK_RIGHT] = i >= 50 && i < 300;
        const int32_t result = stepWorld(kStepSeconds);
        stepCount += 1;
        std::string expected;
        char text[32];
        for (double v : {static_cast<double>(stepCount.load()), static_cast<double>(result),
                         static_cast<double>(applesLeft), static_cast<double>(facing.load())}) {
            std::snprintf(text, sizeof text, expected.empty() ? "%.17g" : " %.17g", v);
            expected += text;
        }
        for (const Cball* ball : {static_cast<const Cball*>(simMoto), static_cast<const Cball*>(simMoto->frontWheel),
                                  static_cast<const Cball*>(simMoto->rearWheel)}) {
            for (double v : {ball->position.x, ball->position.y, ball->velocity.x, ball->velocity.y,
                             ball->angle, ball->angularVelocity}) {
                std::snprintf(text, sizeof text, " %.17g", v);
                expected += text;
            }
        }
        for (double v : {simMoto->head->position.x, simMoto->head->position.y}) {
            std::snprintf(text, sizeof text, " %.17g", v);
            expected += text;
        }
        ASSERT_TRUE(std::getline(lines, line));
        ASSERT_EQ(line, expected) << "step " << i + 1;
    }
    freeWorld();
    clearKeys();

    // The reference walk over every edge gives the same trace, bit for bit,
    // on every test track with every key script written for it.
    for (const auto& [name, keys] :
         {std::pair{"flat", ""}, {"flat", "drive"}, {"flat", "turn"}, {"flat", "wheelie"}, {"hill", "hill"},
          {"apples", "drive"}, {"finish-first", "drive"}, {"high", "lean"}}) {
        std::string args = quote(track(name)) + " --trace --max-steps 1500";
        if (*keys != '\0') {
            args += " --keys " + quote(kData + keys + ".keys");
        }
        const SimRun grid = run(args);
        const SimRun brute = run(args + " --brute-force");
        EXPECT_EQ(grid.status, 0) << grid.err;
        EXPECT_FALSE(grid.rows.empty());
        EXPECT_TRUE(grid.out == brute.out) << name << " " << keys;
    }
}

TEST_F(SimTest, TimeOfTheLastLine)
{
    const std::string flat = quote(track("flat"));
    EXPECT_EQ(run(flat + " --max-steps 1").out, "result: running steps: 1 time: 00:00:01\n");
    EXPECT_EQ(run(flat + " --max-steps 3").out, "result: running steps: 3 time: 00:00:03\n");
    EXPECT_EQ(run("--max-steps 100 " + flat).out, "result: running steps: 100 time: 00:01:00\n");
}

TEST_F(SimTest, BadArgumentsAndScriptsAreRefusedBeforeTheTrackIsRead)
{
    const std::string flat = quote(track("flat"));
    const std::string missing = quote(dir.file("missing.vlt"));
    for (const std::string& args :
         {std::string(), flat + " " + flat, flat + " --max-steps 0", flat + " --max-steps -5",
          flat + " --max-steps 12x", flat + " --max-steps 2147483648", flat + " --max-steps",
          flat + " --speed 3", flat + " --keys", flat + " --keys " + quote(dir.file("none.keys")),
          flat + " --keys " + quote(dir.file("")),
          missing + " --max-steps 0", flat + " --record", flat + " --replay " + quote(dir.file("none.replay")),
          flat + " --keys " + quote(kData + "hill.keys") + " --replay " + quote(kData + "hill.keys"),
          flat + " --replay " + quote(kData + "hill.keys")}) {
        const SimRun r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(r.out.empty()) << args;
        EXPECT_FALSE(r.err.empty()) << args;
    }

    struct Script {
        const char* text;
        const char* line;
    };
    for (const Script& script : {Script{"# start\n0\n\n10 U\n10 D\n", "line 5"},
                                 Script{"0 U\n  # fine\n\t7\tLRUDS\n5 U\n", "line 4"},
                                 Script{"0 X\n", "line 1"},
                                 Script{"0\n1 U D\n", "line 2"},
                                 Script{"0\n-1 U\n", "line 2"},
                                 Script{"0\n1u\n", "line 2"},
                                 Script{"0\n1 u\n", "line 2"},
                                 Script{"0\n99999999999999999999999 U\n", "line 2"}}) {
        const std::string keys = dir.write("bad.keys", script.text);
        // The script is checked first: a missing track does not hide it.
        const SimRun r = run(missing + " --keys " + quote(keys));
        EXPECT_EQ(r.status, 2) << script.text;
        EXPECT_NE(r.err.find(script.line), std::string::npos) << script.text << " -> " << r.err;
        EXPECT_TRUE(r.out.empty());
    }

    // A good script with blanks, comments, tabs and CR line ends runs.
    const std::string keys = dir.write("good.keys", "\n# c\r\n0\r\n  2\tUR  \r\n4 S\n");
    const SimRun r = run(flat + " --keys " + quote(keys) + " --max-steps 6 --trace");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.rows.size(), 6u);
    EXPECT_EQ(r.rows[3][Facing], 1.0);
    EXPECT_EQ(r.rows[4][Facing], -1.0);
}

TEST_F(SimTest, KeyScriptsAndReplaysAreReadOnlyFromRegularFilesWithinTheirBound)
{
    const std::string flat = quote(track("flat"));
    const std::string fifo = dir.file("pipe.replay");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir.file("big.keys");
    ASSERT_EQ(::truncate(dir.write("big.keys", "0 U\n").c_str(), 9 << 20), 0);   // sparse
    // A hang or a memory blow-up shows as a timeout's 124 or an abort (a
    // sanitizer's reservations need more address space than that limit).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const std::string bounded = "timeout 20 ";
#else
    const std::string bounded = "ulimit -v 400000; timeout 20 ";
#endif
    for (const auto& [args, why] :
         {std::pair{flat + " --keys /dev/zero", "not a regular file"},
          std::pair{flat + " --keys " + quote(fifo), "not a regular file"},
          std::pair{flat + " --replay " + quote(fifo), "not a regular file"},
          std::pair{flat + " --keys " + quote(big), "larger than 8388608 bytes"}}) {
        const SimRun r = run(args, bounded);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find(why), std::string::npos) << args << " -> " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(SimTest, ARecordedRideReplaysAndAReplayThatDoesNotHoldExitsFour)
{
    const std::string rock = quote(track("rock"));
    const std::string recorded = dir.file("rock.replay");
    const SimRun keys = run(rock + " --keys " + quote(kData + "hill.keys") + " --max-steps 900 --trace --record " +
                            quote(recorded));
    ASSERT_EQ(keys.status, 0) << keys.err;
    std::ifstream in(recorded);
    const std::string replay((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(replay.substr(0, replay.find("# digest")), "# velto replay 2\n# track: rock.vlt\n");
    EXPECT_NE(replay.find("\n# result: running steps: 900 time: 00:09:00\n0\n50 RU\n300\n"), std::string::npos)
        << replay;

    // Ridden as a replay or as a plain key script, it is the same ride.
    const SimRun again = run(rock + " --trace --replay " + quote(recorded));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, keys.out);
    EXPECT_EQ(run(rock + " --trace --max-steps 900 --keys " + quote(recorded)).out, keys.out);

    // Another track, or a header the ride does not bear out: one line, exit 4.
    for (const auto& [trackArg, text] :
         {std::pair{quote(track("hill")), replay},
          std::pair{rock, std::string(replay).replace(replay.find("running steps: 900 time: 00:09:00"), 33,
                                                      "crashed steps: 900 time: 00:09:00")}}) {
        const SimRun r = run(trackArg + " --replay " + quote(dir.write("changed.replay", text)));
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }

    // The same keys recorded by the earlier physics: told apart, not ridden.
    std::string earlier = replay.substr(0, replay.size() - std::string("# end\n").size());
    earlier.replace(0, std::string("# velto replay 2").size(), "# velto replay 1");
    const SimRun old = run(rock + " --trace --replay " + quote(dir.write("earlier.replay", earlier)));
    EXPECT_EQ(old.status, 4) << old.err;
    EXPECT_EQ(old.out, "");
    EXPECT_EQ(std::count(old.err.begin(), old.err.end(), '\n'), 1) << old.err;
    EXPECT_NE(old.err.find("recorded by an earlier physics"), std::string::npos) << old.err;
}

TEST_F(SimTest, DigestIsOneLineForTheWholeRide)
{
    const std::string rock = quote(track("rock"));
    const std::string hill = " --keys " + quote(kData + "hill.keys");
    const SimRun digest = run(rock + hill + " --max-steps 600 --digest", "", false);
    ASSERT_EQ(digest.status, 0) << digest.err;
    ASSERT_EQ(digest.out.size(), 17u) << digest.out;
    EXPECT_EQ(digest.out.find_first_not_of("0123456789abcdef"), 16u) << digest.out;

    // The digest after each step, the last one the whole ride's.
    const SimRun steps = run(rock + hill + " --max-steps 600 --step-digests", "", false);
    ASSERT_EQ(steps.status, 0) << steps.err;
    EXPECT_EQ(std::count(steps.out.begin(), steps.out.end(), '\n'), 601) << steps.out.substr(0, 200);
    EXPECT_NE(steps.out.find("\n600 " + digest.out), std::string::npos);

    // One more step, another key or another track: another digest.
    EXPECT_NE(run(rock + hill + " --max-steps 601 --digest", "", false).out, digest.out);
    EXPECT_NE(run(rock + " --keys " + quote(kData + "drive.keys") + " --max-steps 600 --digest", "", false).out, digest.out);
    EXPECT_NE(run(quote(track("hill")) + hill + " --max-steps 600 --digest", "", false).out, digest.out);
    EXPECT_EQ(run(rock + hill + " --max-steps 600 --digest", "", false).out, digest.out);
}

TEST_F(SimTest, UnreadableTrackIsReportedOnStderrOnly)
{
    Track flat = readTrackText(kData + "flat.track");
    const std::string bytes = testtracks::encode(flat);
    for (const std::string& path : {dir.file("missing.vlt"), dir.write("empty.vlt", ""),
                                    dir.write("cut.vlt", bytes.substr(0, bytes.size() - 1))}) {
        const SimRun r = run(quote(path) + " --trace");
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.err, "Cant't load the track.\n");
        EXPECT_TRUE(r.out.empty());
    }
}

}  // namespace
