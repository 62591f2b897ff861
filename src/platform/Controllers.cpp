#include "platform/Controllers.h"

#include "model/Globals.h"
#include "platform/KeySources.h"

#include <SDL.h>

#include <cstdint>
#include <iterator>

namespace {

// The game's keys a controller presses, by bit of Pad::held.
constexpr int padKeys[] = {VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT, VK_SPACE, VK_ESCAPE, VK_RETURN};
enum : unsigned {
    HoldsUp = 1u << 0,
    HoldsDown = 1u << 1,
    HoldsLeft = 1u << 2,
    HoldsRight = 1u << 3,
    HoldsSpace = 1u << 4,
    HoldsEscape = 1u << 5,
    HoldsReturn = 1u << 6,
};

// A trigger (0..32767) is pressed past half its travel.
constexpr int kTriggerHalf = 16384;
// The stick presses Left or Right past half its travel and lets go once it
// is back within 0.35, so that a stick resting near the threshold does not
// flicker the key.
constexpr double kStickPress = 0.5;
constexpr double kStickRelease = 0.35;
// With no controller attached, new ones are looked for this often.
constexpr Uint64 kLookIntervalMs = 250;

struct Pad {
    SDL_GameController* controller = nullptr; // owned; nullptr while the slot is free
    SDL_JoystickID id = -1;
    uint32_t buttons = 0;                      // bit per SDL_GameControllerButton held
    int leftTrigger = 0;
    int rightTrigger = 0;
    int stickSide = 0;                         // -1 left, 0 centre, +1 right
    unsigned held = 0;                         // Holds* bits pressed into keyDown
};

// Slot i presses keys as source FirstControllerSource + i.
Pad pads[KeySourceCount - FirstControllerSource];
bool subsystemOpen = false;
int padCount = 0;
Uint64 lastLook = 0;

int stickSideOf(int previous, int value)
{
    const double x = value / 32767.0;
    if (x > kStickPress) {
        return 1;
    }
    if (x < -kStickPress) {
        return -1;
    }
    if (previous > 0 && x >= kStickRelease) {
        return 1;
    }
    if (previous < 0 && x <= -kStickRelease) {
        return -1;
    }
    return 0;
}

unsigned keysHeld(const Pad& pad)
{
    const auto button = [&pad](SDL_GameControllerButton b) { return (pad.buttons >> b) & 1u; };
    unsigned held = 0;
    if (button(SDL_CONTROLLER_BUTTON_A) || button(SDL_CONTROLLER_BUTTON_DPAD_UP) || pad.rightTrigger > kTriggerHalf) {
        held |= HoldsUp;
    }
    if (button(SDL_CONTROLLER_BUTTON_B) || button(SDL_CONTROLLER_BUTTON_DPAD_DOWN) || pad.leftTrigger > kTriggerHalf) {
        held |= HoldsDown;
    }
    if (button(SDL_CONTROLLER_BUTTON_DPAD_LEFT) || pad.stickSide < 0) {
        held |= HoldsLeft;
    }
    if (button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT) || pad.stickSide > 0) {
        held |= HoldsRight;
    }
    if (button(SDL_CONTROLLER_BUTTON_X) || button(SDL_CONTROLLER_BUTTON_Y)) {
        held |= HoldsSpace;
    }
    if (button(SDL_CONTROLLER_BUTTON_START)) {
        held |= HoldsEscape;
    }
    if (button(SDL_CONTROLLER_BUTTON_BACK)) {
        held |= HoldsReturn;
    }
    return held;
}

int sourceOf(const Pad& pad)
{
    return FirstControllerSource + static_cast<int>(&pad - pads);
}

// Presses and releases what changed since the pad's last event.
void settle(Pad& pad)
{
    const unsigned now = keysHeld(pad);
    const unsigned changed = now ^ pad.held;
    for (size_t i = 0; i < std::size(padKeys); ++i) {
        const unsigned bit = 1u << i;
        if (changed & bit) {
            if (now & bit) {
                pressKey(sourceOf(pad), padKeys[i]);
            } else {
                releaseKey(sourceOf(pad), padKeys[i]);
            }
        }
    }
    pad.held = now;
}

Pad* padOf(SDL_JoystickID id)
{
    for (Pad& pad : pads) {
        if (pad.controller && pad.id == id) {
            return &pad;
        }
    }
    return nullptr;
}

void addPad(int deviceIndex)
{
    const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(deviceIndex);
    if (id < 0 || padOf(id)) {
        return;
    }
    for (Pad& pad : pads) {
        if (!pad.controller) {
            pad = Pad{};
            pad.controller = SDL_GameControllerOpen(deviceIndex);
            if (pad.controller) {
                pad.id = id;
                ++padCount;
            }
            return;
        }
    }
    // More controllers than sources: the extra ones are not read.
}

void removePad(Pad& pad)
{
    releaseSource(sourceOf(pad));
    SDL_GameControllerClose(pad.controller);
    pad = Pad{};
    --padCount;
}

// After a new mapping the held buttons may mean other things: read them afresh.
void rereadPad(Pad& pad)
{
    pad.buttons = 0;
    for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX && b < 32; ++b) {
        if (SDL_GameControllerGetButton(pad.controller, static_cast<SDL_GameControllerButton>(b))) {
            pad.buttons |= 1u << b;
        }
    }
    pad.leftTrigger = SDL_GameControllerGetAxis(pad.controller, SDL_CONTROLLER_AXIS_TRIGGERLEFT);
    pad.rightTrigger = SDL_GameControllerGetAxis(pad.controller, SDL_CONTROLLER_AXIS_TRIGGERRIGHT);
    pad.stickSide = stickSideOf(pad.stickSide, SDL_GameControllerGetAxis(pad.controller, SDL_CONTROLLER_AXIS_LEFTX));
    settle(pad);
}

void translateButton(const SDL_ControllerButtonEvent& event)
{
    Pad* pad = padOf(event.which);
    if (!pad || event.button >= 32) {
        return;
    }
    if (event.state == SDL_PRESSED) {
        pad->buttons |= 1u << event.button;
    } else {
        pad->buttons &= ~(1u << event.button);
    }
    settle(*pad);
}

void translateAxis(const SDL_ControllerAxisEvent& event)
{
    Pad* pad = padOf(event.which);
    if (!pad) {
        return;
    }
    switch (event.axis) {
    case SDL_CONTROLLER_AXIS_LEFTX: pad->stickSide = stickSideOf(pad->stickSide, event.value); break;
    case SDL_CONTROLLER_AXIS_TRIGGERLEFT: pad->leftTrigger = event.value; break;
    case SDL_CONTROLLER_AXIS_TRIGGERRIGHT: pad->rightTrigger = event.value; break;
    default: return;
    }
    settle(*pad);
}

} // namespace

bool openControllers()
{
    if (subsystemOpen) {
        return true;
    }
    // The event loop reads the controllers itself (updateControllers), so
    // that nothing is read while none is attached.
    SDL_SetHint(SDL_HINT_AUTO_UPDATE_JOYSTICKS, "0");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        return false;
    }
    subsystemOpen = true;
    lastLook = 0;
    forgetKeySources();
    return true;
}

void closeControllers()
{
    if (!subsystemOpen) {
        return;
    }
    for (Pad& pad : pads) {
        if (pad.controller) {
            removePad(pad);
        }
    }
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    // Their events still queued name devices that are gone.
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_CONTROLLERSENSORUPDATE);
    subsystemOpen = false;
}

bool controllersOpen()
{
    return subsystemOpen;
}

int openControllerCount()
{
    return padCount;
}

void updateControllers()
{
    if (!subsystemOpen) {
        return;
    }
    if (padCount == 0) {
        const Uint64 now = SDL_GetTicks64();
        if (lastLook != 0 && now - lastLook < kLookIntervalMs) {
            return;
        }
        lastLook = now;
    }
    SDL_GameControllerUpdate();
}

void translateControllerEvent(const SDL_Event& event)
{
    if (!subsystemOpen) {
        return;
    }
    switch (event.type) {
    case SDL_CONTROLLERDEVICEADDED:
        addPad(event.cdevice.which);
        break;
    case SDL_CONTROLLERDEVICEREMOVED:
        if (Pad* pad = padOf(event.cdevice.which)) {
            removePad(*pad);
        }
        break;
    case SDL_CONTROLLERDEVICEREMAPPED:
        if (Pad* pad = padOf(event.cdevice.which)) {
            rereadPad(*pad);
        }
        break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        translateButton(event.cbutton);
        break;
    case SDL_CONTROLLERAXISMOTION:
        translateAxis(event.caxis);
        break;
    default:
        break;
    }
}
