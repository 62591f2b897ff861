// The key script of velto-sim: which driving keys are held from which step on.
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

#include <cstdint>
#include <string>
#include <vector>

enum : uint8_t { KeyLeft = 1, KeyRight = 2, KeyUp = 4, KeyDown = 8, KeySpace = 16 };

struct KeyChange {
    uint64_t step = 0;
    uint8_t keys = 0;
};

// Parses the whole script. On a malformed line returns false with `error`
// naming the line ("line 3: ...").
bool parseKeyScript(const std::string& text, std::vector<KeyChange>& changes, std::string& error);
