// Short notes over the game: the track's name for two seconds at the start
// of each run, and a state line for a key that switches something ("Ghost
// off", "Sound on") for two seconds after the press. They go by the wall
// clock, which tests replace. Main thread only.
#pragma once

#include <chrono>
#include <string>

using HudClock = std::chrono::steady_clock;
// The clock the notes read; tests set their own.
extern HudClock::time_point (*hudNow)();

inline constexpr auto kHudNoteTime = std::chrono::seconds(2);

// A run starts on the track called `name`: it is shown from the run's
// first drawn frame on (noteFrameShown) for kHudNoteTime.
void noteRunStart(const std::string& name);
// A key switched something: `text` for kHudNoteTime from now, replacing
// the one before.
void noteState(const std::string& text);
// Called by every drawn frame: a name due to be shown starts its time.
void noteFrameShown();
// The notes to show now; empty when none.
std::string trackNameNote();
std::string stateNote();
// Every note goes (a game mode ends).
void clearHudNotes();
