#include "physics/RunKeys.h"

#include "model/Globals.h"

uint8_t heldDrivingKeys()
{
    uint8_t keys = 0;
    if (keyDown[VK_LEFT].load(std::memory_order_relaxed)) {
        keys |= KeyLeft;
    }
    if (keyDown[VK_RIGHT].load(std::memory_order_relaxed)) {
        keys |= KeyRight;
    }
    if (keyDown[VK_UP].load(std::memory_order_relaxed)) {
        keys |= KeyUp;
    }
    if (keyDown[VK_DOWN].load(std::memory_order_relaxed)) {
        keys |= KeyDown;
    }
    if (keyDown[VK_SPACE].load(std::memory_order_relaxed)) {
        keys |= KeySpace;
    }
    return keys;
}

void KeyRecorder::begin(size_t reserve)
{
    changes_.clear();
    changes_.reserve(reserve);
    overflowed_ = false;
}

void KeyRecorder::record(uint64_t step, uint8_t keys) noexcept
{
    if (overflowed_ || (!changes_.empty() && changes_.back().keys == keys)) {
        return;
    }
    if (changes_.size() == changes_.capacity()) {
        overflowed_ = true;
        return;
    }
    changes_.push_back(KeyChange{step, keys});
}

void KeyPlayer::begin(const std::vector<KeyChange>* changes)
{
    changes_ = changes;
    next_ = 0;
    held_ = 0;
}

uint8_t KeyPlayer::keysAt(uint64_t step) noexcept
{
    while (changes_ != nullptr && next_ < changes_->size() && (*changes_)[next_].step <= step) {
        held_ = (*changes_)[next_].keys;
        ++next_;
    }
    return held_;
}
