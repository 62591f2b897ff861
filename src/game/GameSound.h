// The game mode's sound: the feed that the game fills, the synthesiser that
// turns it into samples on the audio thread, and the M key that switches all
// sound off and on again for the rest of the program.
//
// Threads: startGameSound, stopGameSound, soundRunStarted, soundAfterFrame
// and toggleSound run on the main thread; soundAfterStep on the physics
// thread right after each step (it only stores atomics: no lock, no
// allocation, no system call); the samples are made on the audio thread.
#pragma once

#include "game/SoundSynth.h"

#include <cstdint>

extern SoundFeed soundFeed;

// Opens the sound output for a game mode and starts the engine sound;
// without a device the game runs silently. The M key works from here on.
void startGameSound();
// Closes the output; no sample is made after it returns.
void stopGameSound();
// True while an output is open.
bool gameSoundOpen();
// Samples made since startGameSound (the position in what was played).
int64_t gameSoundFrames();

// A run's world has been built: the engine starts from rest.
void soundRunStarted();
// After every physics step, with its result: the wheel, the throttle, an
// apple taken, the finish (best time or not), a crash.
void soundAfterStep(int32_t result);
// After every frame, with the game state it returned: the engine runs only
// while a run is under way or a replay is watched.
void soundAfterFrame(int32_t state);
// All sound off, or on again.
void toggleSound();
