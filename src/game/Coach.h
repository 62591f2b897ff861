// The coach: short hints for a new rider, worked out from the bike's state
// after each physics step, never from the clock of the wall. It is on for
// the first tracks of the shipped pack (and any track when the player asks
// for it) and off while a replay or a demo is watched.
//
// Each hint fires when its situation begins, stays on screen while the
// situation lasts (and a second and a half of riding after), and is given
// kCoachShows times at most in a game mode; then it is quiet for good.
//
// The unit draws nothing and reads no global: the game feeds it samples
// (game/GameWindow.cpp) and shows its text, and tests feed it recorded
// states. Main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// What the coach looks at after one step.
struct CoachSample {
    int32_t step = 0;          // steps of the run so far
    double frameAngle = 0.0;   // degrees, anticlockwise, as the physics keeps it
    int32_t facing = 1;        // +1 the bike faces right, -1 left
    bool throttle = false;     // Up held
    double speed = 0.0;        // of the frame, world units per second
    double headX = 0.0, headY = 0.0;
    double finishX = 0.0, finishY = 0.0;
    int32_t applesLeft = 0;
};

enum class CoachHint { None, LeanForward, FallingForward, StandingStill, UpsideDown, AppleMissed, Count };

// How many times each hint is given at most.
inline constexpr int kCoachShows = 3;

// The front's lift (degrees, positive when the front is up, whichever way
// the bike faces) past which throttling calls for leaning forward, and the
// dip past which the bike is falling forward.
inline constexpr double kCoachLiftAngle = 40.0;
inline constexpr double kCoachDipAngle = 50.0;
// Slower than this, for kCoachStillSteps steps in a row, is standing still.
inline constexpr double kCoachStillSpeed = 8.0;
inline constexpr int32_t kCoachStillSteps = 400;
// A head this close to the finish while apples are left has missed one.
inline constexpr double kCoachFinishReach = 150.0;
// Steps a hint stays after its situation has passed.
inline constexpr int32_t kCoachLingerSteps = 150;

// Whether the coach speaks on the track with file name `fileName`: on the
// first four tracks of the shipped pack (`packTrack`: the folder's par index
// names this very track), unless the setting (the VELTO_COACH environment
// variable, null when unset) says "off"; on every track when it says "on".
bool coachWanted(const std::string& fileName, bool packTrack, const char* setting);

// `angle` in degrees brought into (-180, 180].
double coachWrapAngle(double angle);

class Coach {
public:
    // A game mode starts: every hint may be given again.
    void reset();
    // A run starts; `on` says whether the coach speaks in it.
    void beginRun(bool on);
    // Off at once (a replay is watched, the run ended).
    void silence();

    // One step's sample; returns the hint that fired with it, if any.
    CoachHint observe(const CoachSample& sample);

    // The hint on screen now (None for none) and its text: "lean forward:
    // hold →" mirrored when the bike faces left, and so on. The arrows are
    // U+2190..U+2193; the game draws them as arrows.
    CoachHint current() const { return shown_; }
    std::string text() const;
    int timesGiven(CoachHint hint) const { return given_[static_cast<size_t>(hint)]; }
    bool on() const { return on_; }

private:
    static constexpr size_t kHints = static_cast<size_t>(CoachHint::Count);
    bool fire(CoachHint hint, const CoachSample& sample);

    std::array<int, kHints> given_{};
    std::array<bool, kHints> armed_{};
    bool on_ = false;
    CoachHint shown_ = CoachHint::None;
    int32_t shownUntil_ = 0;
    int32_t facing_ = 1;
    int32_t applesLeft_ = 0;
    int32_t stillSince_ = -1;
};

// The game's coach.
extern Coach coach;
