// Translation between SDL key events and Win32 virtual-key codes, the codes
// by which the modes read keyDown. Platform layer only.
#pragma once

#include <SDL.h>

// The virtual-key code of a key event, or 0 for a key without one.
// Always in 1..255 when not 0.
int virtualKeyFor(const SDL_Keysym& key);

// The scan code and key code that produce `virtualKey` on a US layout;
// false for a code that no key produces.
bool keyForVirtualKey(int virtualKey, SDL_Scancode& scancode, SDL_Keycode& keycode);

// The modifier bit that a key sets while it is held (KMOD_NONE for others).
SDL_Keymod modifierOf(SDL_Scancode scancode);
