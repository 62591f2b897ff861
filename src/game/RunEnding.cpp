#include "game/RunEnding.h"

#include "physics/Motorbike.h"
#include "physics/World.h"

RunEnding runEndingOf(int32_t result, const Cmoto& bike)
{
    if (result == StepFinished) {
        return RunEnding::Finished;
    }
    if (result != StepCrashed) {
        return RunEnding::None;
    }
    // The step tests the world's edge first; a head past it has left the
    // world, whatever it touches there.
    if (bike.head != nullptr && bike.head->outsideRect(kWorldLeft, kWorldRight, kWorldBottom, kWorldTop)) {
        return RunEnding::LeftWorld;
    }
    return RunEnding::HeadHitGround;
}

const char* runEndingText(RunEnding ending)
{
    switch (ending) {
    case RunEnding::Finished:
        return "You reached the finish";
    case RunEnding::HeadHitGround:
        return "Your head hit the ground";
    case RunEnding::LeftWorld:
        return "You left the world";
    case RunEnding::None:
        break;
    }
    return "";
}
