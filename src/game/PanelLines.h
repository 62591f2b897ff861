// Lines added under the end and pause panels: messages about what the player
// just asked for there (a replay that cannot be watched, no track after this
// one) and news that arrives while the panel stays (a ranking from a hub).
//
// Each line has a key naming its subject; setting a key again replaces its
// text in place, so lines keep the order in which their keys first came. A
// run that starts (a restart, a resume, another track) takes every line
// away; watching a replay and coming back keeps them. With no line set the
// panels look exactly as they always have.
//
// Threads: any thread may set or clear lines; gameFrame reads them once a
// frame. Everything goes through one mutex of this unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The key of messages about watching and keeping replays: one line, the
// latest message.
inline constexpr const char* kReplayPanelLine = "replay";

// Sets the line of `key` to `text`; an empty text removes it.
void setPanelLine(const std::string& key, const std::string& text);
void clearPanelLine(const std::string& key);
// Every line goes; news for the panel that was shown is refused from now on.
void clearPanelLines();

// For news that arrives later: the panel's generation now, and a line set
// only while the panel of that generation still stands. False when it has
// gone (the line is dropped).
uint64_t panelGeneration();
bool setPanelLineFor(uint64_t generation, const std::string& key, const std::string& text);

// The texts in order.
std::vector<std::string> panelLines();
