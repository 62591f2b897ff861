#include "game/Coach.h"

#include <cmath>

Coach coach;

bool coachWanted(const std::string& fileName, bool packTrack, const char* setting)
{
    const std::string asked = setting != nullptr ? setting : "";
    if (asked == "on") {
        return true;
    }
    if (asked == "off") {
        return false;
    }
    static const char* const kFirstTracks[] = {"01-", "02-", "03-", "04-"};
    for (const char* prefix : kFirstTracks) {
        if (packTrack && fileName.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

double coachWrapAngle(double angle)
{
    double a = std::fmod(angle, 360.0);
    if (a > 180.0) {
        a -= 360.0;
    } else if (a <= -180.0) {
        a += 360.0;
    }
    return a;
}

void Coach::reset()
{
    given_.fill(0);
    on_ = false;
    shown_ = CoachHint::None;
}

void Coach::beginRun(bool on)
{
    on_ = on;
    armed_.fill(true);
    shown_ = CoachHint::None;
    shownUntil_ = 0;
    stillSince_ = -1;
}

void Coach::silence()
{
    on_ = false;
    shown_ = CoachHint::None;
}

bool Coach::fire(CoachHint hint, const CoachSample& sample)
{
    const size_t i = static_cast<size_t>(hint);
    if (!armed_[i] || given_[i] >= kCoachShows) {
        return false;
    }
    armed_[i] = false;
    ++given_[i];
    shown_ = hint;
    shownUntil_ = sample.step + kCoachLingerSteps;
    return true;
}

CoachHint Coach::observe(const CoachSample& sample)
{
    if (!on_) {
        return CoachHint::None;
    }
    facing_ = sample.facing < 0 ? -1 : 1;
    applesLeft_ = sample.applesLeft;
    const double angle = coachWrapAngle(sample.frameAngle);
    const double lift = static_cast<double>(facing_) * angle;
    const bool upsideDown = std::fabs(angle) > 120.0;
    if (sample.speed < kCoachStillSpeed) {
        if (stillSince_ < 0) {
            stillSince_ = sample.step;
        }
    } else {
        stillSince_ = -1;
    }
    const double dx = sample.headX - sample.finishX;
    const double dy = sample.headY - sample.finishY;

    // In the order of precedence: the first that fires is shown.
    const std::array<std::pair<CoachHint, bool>, kHints - 1> situations = {{
        {CoachHint::UpsideDown, upsideDown},
        {CoachHint::LeanForward, !upsideDown && sample.throttle && lift > kCoachLiftAngle},
        {CoachHint::FallingForward, !upsideDown && lift < -kCoachDipAngle},
        {CoachHint::AppleMissed,
         sample.applesLeft > 0 && dx * dx + dy * dy < kCoachFinishReach * kCoachFinishReach},
        {CoachHint::StandingStill, stillSince_ >= 0 && sample.step - stillSince_ >= kCoachStillSteps},
    }};
    CoachHint fired = CoachHint::None;
    for (const auto& [hint, now] : situations) {
        if (!now) {
            armed_[static_cast<size_t>(hint)] = true;
            continue;
        }
        if (hint == shown_) {
            shownUntil_ = sample.step + kCoachLingerSteps;   // still called for
        }
        if (fired == CoachHint::None && fire(hint, sample)) {
            fired = hint;
        }
    }
    if (shown_ != CoachHint::None && sample.step > shownUntil_) {
        shown_ = CoachHint::None;
    }
    return fired;
}

std::string Coach::text() const
{
    // U+2190 left, U+2191 up, U+2192 right.
    const char* forward = facing_ > 0 ? "\u2192" : "\u2190";
    const char* back = facing_ > 0 ? "\u2190" : "\u2192";
    switch (shown_) {
    case CoachHint::LeanForward:
        return std::string("lean forward: hold ") + forward;
    case CoachHint::FallingForward:
        return std::string("falling forward: lean back, hold ") + back;
    case CoachHint::StandingStill:
        return "hold \u2191 to ride";
    case CoachHint::UpsideDown:
        return "upside down: Esc, then Enter starts again";
    case CoachHint::AppleMissed:
        return applesLeft_ == 1 ? "take the last apple first, then the finish"
                                : "take every apple first (" + std::to_string(applesLeft_) + " left), then the finish";
    case CoachHint::None:
    case CoachHint::Count:
        break;
    }
    return std::string();
}
