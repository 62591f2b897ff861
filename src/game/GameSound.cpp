#include "game/GameSound.h"

#include "game/GameWindow.h"
#include "game/HudNotes.h"
#include "model/RunTime.h"
#include "physics/World.h"
#include "platform/AudioOutput.h"
#include "platform/RenderWindow.h"

#include <cmath>

SoundFeed soundFeed;

namespace {

SoundSynth synth;                      // audio thread only, while the output is open
AudioFormat output;
std::atomic<int64_t> framesMade{0};
std::atomic<int32_t> applesBefore{0};  // applesLeft after the previous step

void fillSound(void*, float* samples, int frames)
{
    synth.render(soundFeed, samples, frames);
    framesMade.fetch_add(frames, std::memory_order_relaxed);
}

void keyPressed(int virtualKey)
{
    if (virtualKey == 'M') {
        toggleSound();
    }
}

} // namespace

void startGameSound()
{
    setKeyPressListener(keyPressed);
    soundFeed.engineRunning = false;
    framesMade = 0;
    output = openAudioOutput(fillSound, nullptr);
    if (output.sampleRate > 0) {
        synth.reset(soundFeed, output.sampleRate);
        startAudioOutput();
    }
}

void stopGameSound()
{
    closeAudioOutput();
    output = AudioFormat{};
    soundFeed.engineRunning = false;
    setKeyPressListener(nullptr);
}

bool gameSoundOpen()
{
    return output.sampleRate > 0;
}

int64_t gameSoundFrames()
{
    return framesMade.load();
}

void soundRunStarted()
{
    soundFeed.runsStarted.fetch_add(1, std::memory_order_release);
    soundFeed.rearSpin = 0.0f;
    soundFeed.throttle = false;
    applesBefore = applesLeft;
}

void soundAfterStep(int32_t result)
{
    soundFeed.rearSpin.store(static_cast<float>(std::fabs(simMoto->rearWheel->angularVelocity)),
                             std::memory_order_relaxed);
    soundFeed.throttle.store(throttle, std::memory_order_relaxed);
    if (applesLeft < applesBefore.load(std::memory_order_relaxed)) {
        soundFeed.applesTaken.fetch_add(1, std::memory_order_release);
    }
    applesBefore.store(applesLeft, std::memory_order_relaxed);
    if (result == StepFinished) {
        // As the end panel decides it: a new best when none is stored or
        // this run is strictly faster.
        const double runTime = runTimeOfSteps(stepCount.load(std::memory_order_relaxed));
        if (bestTime == -1.0 || runTime < bestTime) {
            soundFeed.bestFinishes.fetch_add(1, std::memory_order_release);
        }
        soundFeed.finishes.fetch_add(1, std::memory_order_release);
    } else if (result == StepCrashed) {
        soundFeed.crashes.fetch_add(1, std::memory_order_release);
    }
    if (result != StepRunning) {
        soundFeed.endedRun.store(soundFeed.runsStarted.load(std::memory_order_relaxed), std::memory_order_release);
    }
}

void soundAfterFrame(int32_t state)
{
    // A replay being watched sounds as the ride did.
    soundFeed.engineRunning.store(state == GameRunning || state == GameWatching, std::memory_order_relaxed);
}

void toggleSound()
{
    soundFeed.muted = !soundFeed.muted.load();
    noteState(soundFeed.muted.load() ? "Sound off" : "Sound on");
}
