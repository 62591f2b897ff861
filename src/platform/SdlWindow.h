// What the platform layer's own files share about the render window.
#pragma once

#include <cstdint>

// SDL's id of the open render window; 0 when none is open.
uint32_t renderWindowId();

// Starts SDL's video subsystem once per process; false when it cannot.
bool ensureVideo();

// True while the screen saver is held off (only while the window is active).
bool screenSaverHeldOff();
