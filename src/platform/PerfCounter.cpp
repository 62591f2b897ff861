#include "platform/PerfCounter.h"

#include <SDL.h>

bool queryPerformanceFrequency(int64_t& frequency)
{
    frequency = static_cast<int64_t>(SDL_GetPerformanceFrequency());
    return frequency > 0;
}

int64_t queryPerformanceCounter()
{
    return static_cast<int64_t>(SDL_GetPerformanceCounter());
}
