// The high-resolution counter that times the physics steps.
#pragma once

#include <cstdint>

// Ticks per second; false when no counter is available.
bool queryPerformanceFrequency(int64_t& frequency);
int64_t queryPerformanceCounter();
