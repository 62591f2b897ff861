// The driving keys of a run: where a step takes them from, and the record of
// them that a replay is made of.
//
// A run is fully described by its track and the driving keys of each step,
// so the physics thread records the keys it actually used, as changes, and
// can take them from a replay instead of the keyboard. Both classes are
// prepared on the main thread while no step runs (begin) and then used by
// the physics thread alone until the run has ended; neither allocates while
// it is used.
#pragma once

#include "model/KeyScript.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Changes a run may hold before it counts as not recorded: a change at
// every step for almost eleven minutes, or hours of real riding.
inline constexpr size_t kRecordReserve = size_t{1} << 16;

// The five driving keys now held on the keyboard (keyDown), as Key* bits.
uint8_t heldDrivingKeys();

class KeyRecorder {
public:
    // Starts a new run's record with room for `reserve` changes; allocates
    // only the first time or when the reserve grows.
    void begin(size_t reserve = kRecordReserve);
    // The keys used by step `step` (0, 1, 2, ...). Never allocates: a change
    // that does not fit marks the run as not recorded.
    void record(uint64_t step, uint8_t keys) noexcept;
    // False when the run outgrew the reserve.
    bool complete() const { return !overflowed_; }
    const std::vector<KeyChange>& changes() const { return changes_; }

private:
    std::vector<KeyChange> changes_;
    bool overflowed_ = false;
};

class KeyPlayer {
public:
    // Plays `changes` (strictly increasing steps) from step 0; the vector
    // must outlive the playing and not change meanwhile.
    void begin(const std::vector<KeyChange>* changes);
    // The keys held at `step`; steps must be asked in increasing order.
    uint8_t keysAt(uint64_t step) noexcept;

private:
    const std::vector<KeyChange>* changes_ = nullptr;
    size_t next_ = 0;
    uint8_t held_ = 0;
};
