// Run times: a run is counted in physics steps of 0.01 s and stored in days.
#pragma once

#include <cstdint>
#include <string>

// stepCount * 0.01 / 86400.
double runTimeOfSteps(int32_t steps);

// "MM:SS:HH": minutes within the hour, seconds and hundredths of a time given
// in days. The time of day is taken to the nearest millisecond first, so
// 6725 steps read "01:07:25" and 3 steps "00:00:03". Negative or non-finite
// times read as "00:00:00".
std::string formatRunTime(double days);
