#include "platform/EventInjection.h"

#include "platform/KeyMap.h"
#include "platform/SdlWindow.h"

#include <SDL.h>

namespace {

// What injected input holds down, so that the events carry the modifier
// and button state that real ones would.
Uint16 injectedModifiers = KMOD_NUM;
Uint32 injectedButtons = 0;
int lastX = 0, lastY = 0;

void push(SDL_Event& event)
{
    if (ensureVideo()) {
        SDL_PushEvent(&event);
    }
}

} // namespace

void injectKey(int virtualKey, bool down, bool repeat)
{
    SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN;
    SDL_Keycode keycode = SDLK_UNKNOWN;
    if (!keyForVirtualKey(virtualKey, scancode, keycode)) {
        return;
    }
    if (const SDL_Keymod bit = modifierOf(scancode)) {
        injectedModifiers = down ? (injectedModifiers | bit) : (injectedModifiers & ~bit);
    }
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.windowID = renderWindowId();
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.repeat = repeat ? 1 : 0;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = keycode;
    event.key.keysym.mod = injectedModifiers;
    push(event);
}

void injectText(const char* text)
{
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    event.text.windowID = renderWindowId();
    SDL_strlcpy(event.text.text, text, sizeof event.text.text);
    push(event);
}

void injectMouseMove(int x, int y)
{
    SDL_Event event{};
    event.type = SDL_MOUSEMOTION;
    event.motion.windowID = renderWindowId();
    event.motion.state = injectedButtons;
    event.motion.x = x;
    event.motion.y = y;
    event.motion.xrel = x - lastX;
    event.motion.yrel = y - lastY;
    lastX = x;
    lastY = y;
    push(event);
}

void injectMouseButton(int button, bool down, int x, int y)
{
    if (button < SDL_BUTTON_LEFT || button > SDL_BUTTON_RIGHT) {
        return;
    }
    injectedButtons = down ? (injectedButtons | SDL_BUTTON(button)) : (injectedButtons & ~SDL_BUTTON(button));
    SDL_Event event{};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.windowID = renderWindowId();
    event.button.button = static_cast<Uint8>(button);
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.button.clicks = 1;
    event.button.x = x;
    event.button.y = y;
    lastX = x;
    lastY = y;
    push(event);
}

void injectFocus(bool gained)
{
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = renderWindowId();
    event.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
    push(event);
}

void injectClose()
{
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = renderWindowId();
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    push(event);
}
