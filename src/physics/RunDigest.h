// The digest of a run: 64 bits that stand for the bike's state after every
// step, bit for bit, so that two machines can compare a whole ride in one
// line (velto-sim --digest).
//
// After each step the step's record is hashed with XXH3-64, seeded with the
// digest after the step before (0 before the first step). The record is 176
// bytes, little-endian: the step count, the step's result, the apples left
// and the facing as 32-bit integers, then as the bits of doubles the frame's
// position x, y, velocity x, y, angle and angular velocity, the same six of
// the wheel in the front slot and of the wheel in the rear slot, and the
// head's position x, y (the values of a velto-sim --trace line).
#pragma once

#include <cstdint>

class RunDigest {
public:
    // Takes the world's state after a step that returned `result`.
    void addStep(int32_t result);
    // The digest after the steps taken so far; 0 before the first.
    uint64_t value() const { return value_; }

private:
    uint64_t value_ = 0;
};
