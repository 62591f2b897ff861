// The render window's icon and the editor's cross-hair cursor, both drawn
// in code. Platform layer only.
#pragma once

#include <SDL.h>

// A 32x32 spoked wheel with alpha; the caller frees it. nullptr on failure.
SDL_Surface* createWindowIcon();

// The 32x32 monochrome cross-hair: white lines of 17 pixels through the
// hot spot (15, 16), everything else transparent. nullptr on failure.
SDL_Cursor* createCrossCursor();
