// Test support: synthetic input pushed through the same event queue as real
// input, so that pumpMessage translates it exactly as it would a player's.
#pragma once

// A key event by virtual-key code (VK_*, 'A'..'Z', '0'..'9').
void injectKey(int virtualKey, bool down, bool repeat = false);
void injectMouseMove(int x, int y);
// button: 1 left, 2 middle, 3 right.
void injectMouseButton(int button, bool down, int x, int y);
void injectFocus(bool gained);
// Typed text, as SDL's text input delivers it (at most 31 bytes).
void injectText(const char* text);
void injectClose();
