// Test support: game controllers made in software (SDL's virtual joysticks).
// One attaches only while controllers are open (the game mode runs) and
// arrives like a controller plugged in; its buttons and axes reach the game
// through the same events as a real controller's. Main thread only.
#pragma once

// The controls, numbered as SDL's game controller buttons and axes.
enum class PadButton { A, B, X, Y, Back, Guide, Start, DpadUp = 11, DpadDown, DpadLeft, DpadRight };
enum class PadAxis { LeftX, LeftY, RightX, RightY, LeftTrigger, RightTrigger };

// A new controller with every button up, the stick centred and the
// triggers released; its handle, or -1 when none can be attached.
int attachVirtualController();
// Pulls it out, with whatever it holds.
void detachVirtualController(int handle);
void setVirtualButton(int handle, PadButton button, bool down);
// Stick axes from -1 to 1, triggers from 0 (released) to 1.
void setVirtualAxis(int handle, PadAxis axis, double value);
