// The entry points of a core built as a module of its own, so that one
// velto-bench run can ride the same tracks with two builds of the physics
// side by side (bench/CMakeLists.txt). Everything else in the module is
// hidden; the module's world is its own.
#include "model/Globals.h"
#include "physics/World.h"

#include <cstdint>

namespace {

struct Restart {
    Cball frame, front, rear, head;
};
Restart start;

} // namespace

#define VELTO_MODULE_ENTRY extern "C" __attribute__((visibility("default")))

// Builds the world of the track at `path` and holds throttle and lean, as
// the step benchmarks do. False when the track cannot be read.
VELTO_MODULE_ENTRY bool veltoModuleBegin(const char* path)
{
    if (!buildWorld(path)) {
        return false;
    }
    start = {static_cast<const Cball&>(*simMoto), *simMoto->frontWheel, *simMoto->rearWheel, *simMoto->head};
    clearKeys();
    keyDown[VK_UP] = true;
    keyDown[VK_RIGHT] = true;
    return true;
}

// One step; the ride starts again from the start when it ends or when
// `restart` is set.
VELTO_MODULE_ENTRY int32_t veltoModuleStep(bool restart)
{
    const int32_t result = stepWorld(kStepSeconds);
    if (result != StepRunning || restart) {
        static_cast<Cball&>(*simMoto) = start.frame;
        *simMoto->frontWheel = start.front;
        *simMoto->rearWheel = start.rear;
        *simMoto->head = start.head;
        facing = 1;
        braking = false;
        throttle = false;
        turnLatch = false;
        brakeLock = BrakeLock{};
    }
    return result;
}

VELTO_MODULE_ENTRY void veltoModuleEnd()
{
    freeWorld();
    clearKeys();
}
