// Game controllers as a second keyboard for the game mode. Any controller
// that SDL's mapping database knows (the one built into SDL, plus the files
// named by SDL_GAMECONTROLLERCONFIG_FILE / SDL_GAMECONTROLLERCONFIG) works;
// controllers plugged in or pulled out while the game runs come and go.
// Each one presses the game's keys through platform/KeySources.h:
//
//   A, d-pad up, or right trigger past half  Up (throttle; up in the track list)
//   B, d-pad down, or left trigger past half Down (brake; down in the track list)
//   d-pad left / right, or left stick x      Left / Right
//     past -0.5 / +0.5 (held until it is
//     back within -0.35 / +0.35)
//   X or Y                                   Space
//   Start                                    Esc
//   Back                                     Enter
//
// Only the game mode opens controllers; without one attached the only work
// left is a look for new devices four times a second.
//
// Main thread only, like the render window's event handling.
#pragma once

union SDL_Event;

// Starts SDL's controller subsystem; the controllers already attached
// arrive as events. Forgets every source's held keys (the game clears
// keyDown as it starts). False when the subsystem cannot start: the game
// then runs on the keyboard alone.
bool openControllers();
// Releases every key the controllers hold, closes them and stops the
// subsystem. Safe to call when nothing is open.
void closeControllers();
// True from openControllers to closeControllers.
bool controllersOpen();
// Number of controllers open now.
int openControllerCount();

// Hooks of the render window's event loop. updateControllers reads the
// attached controllers into SDL's event queue (and, with none attached,
// looks for new ones now and then); translateControllerEvent turns
// controller events into key presses and ignores every other event.
void updateControllers();
void translateControllerEvent(const SDL_Event& event);
