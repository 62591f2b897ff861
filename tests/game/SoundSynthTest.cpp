// The synthesiser on its own, buffer by buffer: events heard once each,
// the engine stopped by a crash until the next run, and the mute.
#include "game/SoundSynth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The level of the next `seconds` of sound.
double level(SoundSynth& synth, const SoundFeed& feed, double seconds)
{
    std::vector<float> samples(static_cast<size_t>(seconds * 48000.0));
    double sum = 0.0;
    for (size_t i = 0; i < samples.size(); i += 512) {
        const int frames = static_cast<int>(std::min<size_t>(512, samples.size() - i));
        synth.render(feed, samples.data() + i, frames);
    }
    for (float s : samples) {
        sum += s * s;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

} // namespace

TEST(SoundSynthTest, EventsSoundOnceACrashStopsTheEngineUntilTheNextRunAndMuteSilencesAll)
{
    SoundFeed feed;
    feed.applesTaken = 3;   // from an earlier game mode: not heard again
    SoundSynth synth;
    synth.reset(feed, 48000);
    EXPECT_EQ(level(synth, feed, 0.2), 0.0);

    feed.applesTaken = 4;
    EXPECT_GT(level(synth, feed, 0.2), 0.01);
    level(synth, feed, 1.0);
    EXPECT_EQ(level(synth, feed, 0.2), 0.0);

    feed.runsStarted = 1;
    feed.engineRunning = true;
    EXPECT_GT(level(synth, feed, 0.3), 0.03);
    feed.crashes = 1;
    feed.endedRun = 1;
    EXPECT_GT(level(synth, feed, 0.2), 0.05);
    level(synth, feed, 2.0);
    EXPECT_LT(level(synth, feed, 0.2), 1e-4);   // the end panel has not shown yet
    feed.engineRunning = false;
    level(synth, feed, 0.05);
    feed.runsStarted = 2;                       // restarted
    feed.engineRunning = true;
    EXPECT_GT(level(synth, feed, 0.3), 0.03);

    feed.muted = true;
    level(synth, feed, 0.1);
    feed.finishes = 1;
    feed.endedRun = 2;
    EXPECT_LT(level(synth, feed, 0.3), 1e-4);
    level(synth, feed, 5.0);
    feed.muted = false;
    feed.engineRunning = false;
    EXPECT_LT(level(synth, feed, 0.3), 1e-4);   // the finish was not kept for later
    feed.runsStarted = 3;
    feed.engineRunning = true;
    EXPECT_GT(level(synth, feed, 0.3), 0.03);
}

TEST(SoundSynthTest, TheEngineSoundsInEveryRunHoweverShortlyTheEndPanelStood)
{
    SoundFeed feed;
    SoundSynth synth;
    synth.reset(feed, 48000);
    feed.engineRunning = true;
    for (uint32_t run = 1; run <= 3; ++run) {
        feed.runsStarted = run;
        level(synth, feed, 2.1);   // the last run's crash dies away
        EXPECT_GT(level(synth, feed, 0.3), 0.03) << "run " << run;
        // The run crashes and Enter, held, starts the next one before the
        // synthesiser's next buffer: it never sees the engine stopped.
        feed.crashes = run;
        feed.endedRun = run;
    }
}
