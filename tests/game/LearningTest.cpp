// Learning to ride: the coach's hints on states recorded from real rides and
// on the situations they name, why a run ended, and the demos that ship
// beside the pack's tracks.
#include "GameTestSupport.h"

#include "game/Coach.h"
#include "game/RunEnding.h"
#include "model/Replay.h"
#include "physics/Motorbike.h"
#include "physics/World.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string shippedTrack(const std::string& name)
{
    return std::string(VELTO_BINARY_DIR) + "/tracks/" + name + ".vlt";
}

// The bike as the step left it, as the game samples it for the coach.
CoachSample sampleOf(int32_t step, uint8_t keys)
{
    CoachSample sample;
    sample.step = step;
    sample.frameAngle = simMoto->angle;
    sample.facing = facing.load();
    sample.throttle = (keys & KeyUp) != 0 && (keys & KeyDown) == 0;
    sample.speed = std::hypot(simMoto->velocity.x, simMoto->velocity.y);
    sample.headX = simMoto->head->position.x;
    sample.headY = simMoto->head->position.y;
    sample.finishX = finishBall->position.x;
    sample.finishY = finishBall->position.y;
    sample.applesLeft = applesLeft;
    return sample;
}

// Rides `path` with `keys` held from `from` on (nothing before) until the
// run ends or `steps` have passed, recording the bike after every step.
struct Ride {
    std::vector<CoachSample> samples;
    int32_t result = StepRunning;
};
Ride ride(const std::string& path, uint8_t keys, int32_t steps, int32_t from = 0)
{
    Ride recorded;
    EXPECT_TRUE(buildWorld(path));
    for (int32_t step = 0; step < steps && recorded.result == StepRunning; ++step) {
        const uint8_t held = step >= from ? keys : 0;
        recorded.result = stepWorldWithKeys(kStepSeconds, held);
        recorded.samples.push_back(sampleOf(step + 1, held));
    }
    return recorded;
}

// The hints fired over a recording, with the step of each.
std::vector<std::pair<CoachHint, int32_t>> coachOver(Coach& coach, const std::vector<CoachSample>& samples)
{
    std::vector<std::pair<CoachHint, int32_t>> fired;
    for (const CoachSample& sample : samples) {
        const CoachHint hint = coach.observe(sample);
        if (hint != CoachHint::None) {
            fired.emplace_back(hint, sample.step);
        }
    }
    return fired;
}

class LearningTest : public ::testing::Test {
protected:
    void TearDown() override { freeWorld(); }
};

} // namespace

// Holding Up alone on the first track flips the bike over backwards: the
// coach says to lean forward before the head hits the ground, with the
// arrow of the way the bike faces, and then that the bike is upside down.
TEST_F(LearningTest, ThrottleAloneOnTheFirstTrackCallsForLeaningForwardBeforeTheCrash)
{
    const Ride flip = ride(shippedTrack("01-stepping-stones"), KeyUp, 1000);
    ASSERT_EQ(flip.result, StepCrashed);
    EXPECT_EQ(runEndingOf(flip.result, *simMoto), RunEnding::HeadHitGround);

    Coach coach;
    coach.reset();
    coach.beginRun(true);
    const auto fired = coachOver(coach, flip.samples);
    ASSERT_FALSE(fired.empty());
    EXPECT_EQ(fired[0].first, CoachHint::LeanForward);
    EXPECT_LT(fired[0].second, flip.samples.back().step - 20) << "said in time to act on it";

    coach.beginRun(true);
    for (const CoachSample& sample : flip.samples) {
        if (coach.observe(sample) == CoachHint::LeanForward) {
            EXPECT_EQ(coach.text(), "lean forward: hold \u2192");
            break;
        }
    }

    // Turned round first (Space in the first steps, while it settles), the
    // bike faces left and the arrow with it.
    ASSERT_TRUE(buildWorld(shippedTrack("01-stepping-stones")));
    std::vector<CoachSample> left;
    int32_t result = StepRunning;
    for (int32_t step = 0; step < 1500 && result == StepRunning; ++step) {
        const uint8_t keys = step == 1 ? KeySpace : (step > 60 ? KeyUp : 0);
        result = stepWorldWithKeys(kStepSeconds, keys);
        left.push_back(sampleOf(step + 1, keys));
    }
    ASSERT_EQ(facing.load(), -1);
    Coach mirrored;
    mirrored.beginRun(true);
    bool said = false;
    for (const CoachSample& sample : left) {
        if (mirrored.observe(sample) == CoachHint::LeanForward) {
            EXPECT_EQ(mirrored.text(), "lean forward: hold \u2190");
            said = true;
            break;
        }
    }
    EXPECT_TRUE(said) << "wheelie to the left unnoticed; result " << result;
}

// Riding well, the coach stays quiet; standing at the start, it says to
// throttle once the bike has stood still long enough, not before.
TEST_F(LearningTest, TheCoachIsQuietOnAProofRunAndSpeaksToABikeStandingStill)
{
    Replay proof;
    std::string error;
    ASSERT_EQ(readReplayFile(std::string(VELTO_SOURCE_DIR) + "/tests/data/tracks/02-first-ride.replay", proof, error),
              ReplayReadError::None)
        << error;
    ASSERT_TRUE(buildWorld(shippedTrack("02-first-ride")));
    Coach coach;
    coach.beginRun(true);
    size_t next = 0;
    uint8_t keys = 0;
    int32_t result = StepRunning;
    std::vector<CoachHint> heard;
    for (int32_t step = 0; step < proof.steps && result == StepRunning; ++step) {
        while (next < proof.changes.size() && proof.changes[next].step == static_cast<uint64_t>(step)) {
            keys = proof.changes[next++].keys;
        }
        result = stepWorldWithKeys(kStepSeconds, keys);
        const CoachHint hint = coach.observe(sampleOf(step + 1, keys));
        if (hint != CoachHint::None && hint != CoachHint::LeanForward) {
            heard.push_back(hint);
        }
    }
    EXPECT_EQ(result, StepFinished);
    EXPECT_TRUE(heard.empty()) << "a hint over a clean ride: " << static_cast<int>(heard.front());

    const Ride still = ride(shippedTrack("02-first-ride"), 0, kCoachStillSteps + 200);
    coach.reset();
    coach.beginRun(true);
    const auto fired = coachOver(coach, still.samples);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].first, CoachHint::StandingStill);
    EXPECT_GE(fired[0].second, kCoachStillSteps);
    EXPECT_LT(fired[0].second, kCoachStillSteps + 120);
    EXPECT_EQ(coach.text(), "hold \u2191 to ride");
}

// The situations one by one, each fired where it begins, shown while it
// lasts and a little after, and given a few times at most.
TEST(Coach, EachHintFiresWhereItsSituationBeginsAndOnlyAFewTimes)
{
    CoachSample upright;
    upright.speed = 200.0;
    upright.finishX = 5000.0;
    upright.applesLeft = 2;
    const auto at = [](CoachSample sample, int32_t step) {
        sample.step = step;
        return sample;
    };

    CoachSample dipping = upright;
    dipping.frameAngle = -(kCoachDipAngle + 5.0);   // the front down, facing right
    CoachSample upside = upright;
    upside.frameAngle = 175.0;
    CoachSample nearFinish = upright;
    nearFinish.headX = upright.finishX - 100.0;
    CoachSample wheelie = upright;
    wheelie.throttle = true;
    wheelie.frameAngle = kCoachLiftAngle + 5.0;

    for (const auto& [situation, hint, text] :
         {std::tuple{dipping, CoachHint::FallingForward, "falling forward: lean back, hold \u2190"},
          std::tuple{upside, CoachHint::UpsideDown, "upside down: Esc, then Enter starts again"},
          std::tuple{nearFinish, CoachHint::AppleMissed, "take every apple first (2 left), then the finish"},
          std::tuple{wheelie, CoachHint::LeanForward, "lean forward: hold \u2192"}}) {
        Coach coach;
        coach.beginRun(true);
        int32_t step = 0;
        int given = 0;
        for (int round = 0; round < kCoachShows + 2; ++round) {
            EXPECT_EQ(coach.observe(at(upright, ++step)), CoachHint::None);
            const CoachHint fired = coach.observe(at(situation, ++step));
            if (round < kCoachShows) {
                EXPECT_EQ(fired, hint) << text << " round " << round;
                EXPECT_EQ(coach.text(), text);
                ++given;
            } else {
                EXPECT_EQ(fired, CoachHint::None) << text << " given again after " << kCoachShows;
            }
            // Held, it fires no more but stays on screen.
            for (int k = 0; k < 50; ++k) {
                EXPECT_EQ(coach.observe(at(situation, ++step)), CoachHint::None);
            }
            if (round < kCoachShows) {
                EXPECT_EQ(coach.current(), hint);
            }
            // Once past, it lingers and goes.
            for (int k = 0; k <= kCoachLingerSteps; ++k) {
                coach.observe(at(upright, ++step));
            }
            EXPECT_EQ(coach.current(), CoachHint::None) << text;
        }
        EXPECT_EQ(coach.timesGiven(hint), given);
        // A new run does not give it again.
        coach.beginRun(true);
        EXPECT_EQ(coach.observe(at(situation, ++step)), CoachHint::None);
    }

    // Facing left, the front lifts with a clockwise angle and the arrow turns.
    CoachSample leftWheelie = wheelie;
    leftWheelie.facing = -1;
    leftWheelie.frameAngle = -wheelie.frameAngle;
    Coach coach;
    coach.beginRun(true);
    EXPECT_EQ(coach.observe(leftWheelie), CoachHint::LeanForward);
    EXPECT_EQ(coach.text(), "lean forward: hold \u2190");
    // The same angle without the throttle is no wheelie of the rider's making.
    Coach quiet;
    quiet.beginRun(true);
    leftWheelie.throttle = false;
    EXPECT_EQ(quiet.observe(leftWheelie), CoachHint::None);
    // Angles kept unwrapped (a braking bike) count as their turn.
    EXPECT_DOUBLE_EQ(coachWrapAngle(365.0), 5.0);
    EXPECT_DOUBLE_EQ(coachWrapAngle(-190.0), 170.0);
}

// Off, the coach says nothing whatever the bike does: in a replay, on a
// track past the first four, on a player's own track, unless asked.
TEST(Coach, SpeaksOnlyOnTheFirstPackTracksUnlessTheSettingSaysOtherwise)
{
    CoachSample upside;
    upside.frameAngle = 180.0;
    Coach coach;
    coach.beginRun(false);
    EXPECT_EQ(coach.observe(upside), CoachHint::None);
    coach.beginRun(true);
    coach.silence();   // a replay begins
    EXPECT_EQ(coach.observe(upside), CoachHint::None);
    EXPECT_EQ(coach.current(), CoachHint::None);

    EXPECT_TRUE(coachWanted("01-stepping-stones.vlt", true, nullptr));
    EXPECT_TRUE(coachWanted("04-stairs.vlt", true, nullptr));
    EXPECT_FALSE(coachWanted("05-jumps.vlt", true, nullptr));
    EXPECT_FALSE(coachWanted("24-finale.vlt", true, nullptr));
    EXPECT_FALSE(coachWanted("01-mine.vlt", false, nullptr)) << "not the pack's track";
    EXPECT_TRUE(coachWanted("05-jumps.vlt", true, "on"));
    EXPECT_TRUE(coachWanted("mine.vlt", false, "on"));
    EXPECT_FALSE(coachWanted("01-stepping-stones.vlt", true, "off"));
}

// Each way a run ends, as the step ended it.
TEST_F(LearningTest, TheRunEndingSaysWhatEndedItAndTheHeadMarksWhere)
{
    const std::filesystem::path dir = scratchDir("RunEnding");
    // Throttle and leaning back on flat ground lay the rider on his head.
    TestTrack flat;
    ASSERT_TRUE(writeTestTrack((dir / "flat.vlt").string(), flat));
    const Ride back = ride((dir / "flat.vlt").string(), KeyUp | KeyLeft, 1500);
    ASSERT_EQ(back.result, StepCrashed);
    EXPECT_EQ(runEndingOf(back.result, *simMoto), RunEnding::HeadHitGround);
    EXPECT_STREQ(runEndingText(RunEnding::HeadHitGround), "Your head hit the ground");
    EXPECT_LT(simMoto->head->position.y, 40.0) << "the head is down by the ground";

    // Started against the world's top edge, the head is out at once.
    TestTrack high;
    high.startY = kWorldTop - 10.0;
    ASSERT_TRUE(writeTestTrack((dir / "high.vlt").string(), high));
    const Ride out = ride((dir / "high.vlt").string(), 0, 10);
    ASSERT_EQ(out.result, StepCrashed);
    EXPECT_EQ(runEndingOf(out.result, *simMoto), RunEnding::LeftWorld);
    EXPECT_STREQ(runEndingText(RunEnding::LeftWorld), "You left the world");

    // A finish and a run still going.
    TestTrack quick;
    quick.finishX = quick.startX + 221.0 / 3.0 + 40.0;
    quick.finishY = quick.startY - 113.0 / 3.0;
    ASSERT_TRUE(writeTestTrack((dir / "quick.vlt").string(), quick));
    const Ride done = ride((dir / "quick.vlt").string(), 0, 100);
    ASSERT_EQ(done.result, StepFinished);
    EXPECT_EQ(runEndingOf(done.result, *simMoto), RunEnding::Finished);
    EXPECT_EQ(runEndingOf(StepRunning, *simMoto), RunEnding::None);
    EXPECT_STREQ(runEndingText(RunEnding::None), "");
    std::filesystem::remove_all(dir);
}

// Every pack track ships its proof run beside it as its demo, as the build
// copied it from the proofs, and the demo rides its track to the finish.
TEST(ShippedDemos, EveryPackTrackHasItsProofRunAsItsDemo)
{
    const std::filesystem::path proofs = std::filesystem::path(VELTO_SOURCE_DIR) / "tests/data/tracks";
    int tracks = 0;
    for (const auto& entry : std::filesystem::directory_iterator(proofs)) {
        if (entry.path().extension() != ".replay") {
            continue;
        }
        const std::string name = entry.path().stem().string();
        const std::string track = shippedTrack(name);
        Replay proof;
        Replay demo;
        std::string error;
        ASSERT_EQ(readReplayFile(entry.path().string(), proof, error), ReplayReadError::None) << name;
        ASSERT_EQ(readReplayFile(demoReplayPath(track), demo, error), ReplayReadError::None) << name << ": " << error;
        EXPECT_EQ(formatReplay(demo), formatReplay(proof)) << name;
        uint64_t digest = 0;
        ASSERT_TRUE(trackDigest(track, digest));
        EXPECT_EQ(demo.digest, digest) << name;
        EXPECT_EQ(demo.result, ReplayFinished) << name;
        ++tracks;
    }
    EXPECT_EQ(tracks, 24);
    EXPECT_EQ(demoReplayPath("tracks/01-a.vlt"), "tracks/01-a.demo");
}
