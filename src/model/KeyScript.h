// Key scripts: which driving keys are held from which step on. velto-sim
// rides them, and a replay (model/Replay.h) is one with a header.
//
//   # comment
//   0
//   120 U
//   300 UL
//
// Every line that is not blank or a comment is `STEP KEYS`: STEP a
// non-negative decimal step index, strictly increasing; KEYS optional
// letters L (left), R (right), U (up), D (down), S (space). From step STEP on
// exactly those keys are held, until the next line's step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The most of a key script file that is read (as for a replay, which is a
// key script with a header): a change at every step of an hour is about 4 MB.
inline constexpr size_t kMaxKeyScriptBytes = size_t{8} << 20;

enum : uint8_t { KeyLeft = 1, KeyRight = 2, KeyUp = 4, KeyDown = 8, KeySpace = 16 };

struct KeyChange {
    uint64_t step = 0;
    uint8_t keys = 0;
};

// Parses the whole script. On a malformed line returns false with `error`
// naming the line ("line 3: ..."). Time and memory grow with the text only.
bool parseKeyScript(const std::string& text, std::vector<KeyChange>& changes, std::string& error);

// The line of one change, "STEP KEYS" with the letters in the order LRUDS,
// or "STEP" alone when no key is held; no line end.
std::string keyScriptLine(const KeyChange& change);
