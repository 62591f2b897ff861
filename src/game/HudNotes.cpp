#include "game/HudNotes.h"

namespace {

HudClock::time_point realNow()
{
    return HudClock::now();
}

struct Note {
    std::string text;
    bool waiting = false;            // shown from the next drawn frame
    HudClock::time_point until{};
};

Note trackName;
Note state;

std::string current(const Note& note)
{
    if (note.text.empty() || note.waiting || hudNow() >= note.until) {
        return std::string();
    }
    return note.text;
}

} // namespace

HudClock::time_point (*hudNow)() = realNow;

void noteRunStart(const std::string& name)
{
    trackName.text = name;
    trackName.waiting = true;
}

void noteState(const std::string& text)
{
    state.text = text;
    state.waiting = false;
    state.until = hudNow() + kHudNoteTime;
}

void noteFrameShown()
{
    if (trackName.waiting) {
        trackName.waiting = false;
        trackName.until = hudNow() + kHudNoteTime;
    }
}

std::string trackNameNote()
{
    return current(trackName);
}

std::string stateNote()
{
    return current(state);
}

void clearHudNotes()
{
    trackName = Note();
    state = Note();
}
