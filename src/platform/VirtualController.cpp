#include "platform/VirtualController.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

static_assert(static_cast<int>(PadButton::Start) == SDL_CONTROLLER_BUTTON_START);
static_assert(static_cast<int>(PadButton::DpadRight) == SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
static_assert(static_cast<int>(PadAxis::RightTrigger) == SDL_CONTROLLER_AXIS_TRIGGERRIGHT);

// Handles (instance ids) of the attached controllers. Each is held open
// here so that its values can be set; stopping the controller subsystem
// closes it, which SDL_JoystickFromInstanceID then tells.
std::set<int> attached;

SDL_Joystick* joystickOf(int handle)
{
    return attached.count(handle) ? SDL_JoystickFromInstanceID(handle) : nullptr;
}

Sint16 axisValue(double value)
{
    return static_cast<Sint16>(std::lround(std::clamp(value, -1.0, 1.0) * 32767.0));
}

} // namespace

int attachVirtualController()
{
    if (!SDL_WasInit(SDL_INIT_GAMECONTROLLER)) {
        return -1;
    }
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = "Velto test controller";
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) {
        return -1;
    }
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    if (!joystick) {
        SDL_JoystickDetachVirtual(index);
        return -1;
    }
    const int handle = SDL_JoystickInstanceID(joystick);
    attached.insert(handle);
    // The generated mapping spreads a trigger over the whole joystick axis:
    // its low end is a released trigger.
    setVirtualAxis(handle, PadAxis::LeftTrigger, 0.0);
    setVirtualAxis(handle, PadAxis::RightTrigger, 0.0);
    return handle;
}

void detachVirtualController(int handle)
{
    SDL_Joystick* joystick = joystickOf(handle);
    attached.erase(handle);
    if (!joystick) {
        return;
    }
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        if (SDL_JoystickGetDeviceInstanceID(i) == handle) {
            SDL_JoystickDetachVirtual(i);
            break;
        }
    }
    SDL_JoystickClose(joystick);
}

void setVirtualButton(int handle, PadButton button, bool down)
{
    if (SDL_Joystick* joystick = joystickOf(handle)) {
        SDL_JoystickSetVirtualButton(joystick, static_cast<int>(button), down ? SDL_PRESSED : SDL_RELEASED);
    }
}

void setVirtualAxis(int handle, PadAxis axis, double value)
{
    SDL_Joystick* joystick = joystickOf(handle);
    if (!joystick) {
        return;
    }
    if (axis == PadAxis::LeftTrigger || axis == PadAxis::RightTrigger) {
        value = std::clamp(value, 0.0, 1.0) * 2.0 - 1.0;
    }
    SDL_JoystickSetVirtualAxis(joystick, static_cast<int>(axis), axisValue(value));
}
