// Run times in days and their "MM:SS:HH" text.
#include "model/RunTime.h"

#include <cmath>
#include <cstdio>

double runTimeOfSteps(int32_t steps)
{
    return steps * 0.01 / 86400;
}

std::string formatRunTime(double days)
{
    if (!std::isfinite(days) || days < 0.0) {
        return "00:00:00";
    }
    // Time of day to the nearest millisecond; a time that rounds up to
    // midnight is the start of the next day.
    const double dayFraction = days - std::floor(days);
    long long ms = std::llround(dayFraction * 86400000.0);
    if (ms >= 86400000LL) {
        ms -= 86400000LL;
    }
    const int minutes = static_cast<int>((ms / 60000) % 60);
    const int seconds = static_cast<int>((ms / 1000) % 60);
    const int millis = static_cast<int>(ms % 1000);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%03d", minutes, seconds, millis);
    std::string result(text);
    result.pop_back();   // milliseconds shown as hundredths
    return result;
}
