// Why a run ended, told on the end panel, and where: worked out from the
// bike as the step that ended the run left it, the same tests the step made.
#pragma once

#include <cstdint>

class Cmoto;

enum class RunEnding { None, Finished, HeadHitGround, LeftWorld };

// The ending of a run whose last step returned `result` (physics/World.h),
// with `bike` as that step left it.
RunEnding runEndingOf(int32_t result, const Cmoto& bike);

// "You reached the finish", "Your head hit the ground", "You left the
// world"; empty for None.
const char* runEndingText(RunEnding ending);
