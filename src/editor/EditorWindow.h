// The editor mode: its window, message-or-frame loop and commands.
#pragma once

#include "model/Vectors.h"

#include <functional>

class Capples;

// The whole editor mode: opens the window (never full screen, maximised),
// builds the state for trackPath, runs until the track is saved or the
// player declines to save, then releases everything and closes the window.
void runEditor();

// One frame: the input, then, while the window is active, the picture.
// True when the editor is to end.
bool editorFrame();

// Keys and mouse of one frame, applied to the editor state. True when the
// editor is to end (Esc and a save, or No to "Save track?").
bool editorInput();

// The left press of PolygonMode: starts a polygon at `at`, or places the
// mouse vertex of the polygon being drawn at `at` and adds a new one. The
// undo history replays them.
void startPolygon(const Cvector& at);
void placeVertex(const Cvector& at);

// Unlinks an apple of the editor's list and frees it; the selection moves to
// a neighbour when it was on this apple. The undo history records nothing.
void removeApple(Capples* apple);

// Test support: called on the main thread once per editor frame, after the
// picture is drawn and before it is presented (so the back buffer can be
// read), or after the input when nothing is drawn. nullptr removes it.
using EditorFrameHook = std::function<void()>;
void setEditorFrameHook(EditorFrameHook hook);
