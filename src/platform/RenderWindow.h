// The render window: one top-level window with an OpenGL compatibility
// context, shared by the game and the editor (one at a time), and the
// translation of its events into the shared input state of model/Globals.h.
// Main thread only.
#pragma once

#include <string>

// Opens the window hidden, centred, with a client area of width x height
// (full screen switches the display mode first), makes its GL context
// current and sets up blending and the text font. The editor's window is
// resizable; the game's windowed one has a fixed size. On failure the
// message has been shown, what was built is torn down, and false returns.
bool openRenderWindow(const char* title, int width, int height, bool fullscreenFlag);
// Shows the window (the editor's maximised), gives it the focus, sets the
// view size from modeWidth/modeHeight and hides the start-up dialog.
void showRenderWindow();
// glViewport and viewWidth/viewHeight.
void resizeView(int width, int height);
// Clear colour, blending, text font. Called by openRenderWindow.
void initRenderState();
// glFinish, then swap the buffers.
void presentFrame();
// Tears down font, display mode, cursor, context and window.
void closeRenderWindow();

// The modes' message loop: handles one waiting event, if any, translating
// it into the shared input state.
enum class PumpResult { Dispatched, Quit, Empty };
PumpResult pumpMessage();
// Makes the next pumpMessage return Quit.
void postQuitMessage();

// Show-count cursor control (as ShowCursor): the cursor is visible while
// the count is >= 0. Returns the new count.
int showCursor(bool show);

// pumpMessage calls `listener` with the virtual-key code of every key pressed
// in the window (not for auto-repeats), after keyDown is set; nullptr for none.
void setKeyPressListener(void (*listener)(int virtualKey));

// Text entry: while on, the characters typed into the window are kept (as
// well as their keys going to keyDown) for takeTypedText. Printable ASCII
// only, at most 256 characters between two calls. Off when a window opens
// or closes.
void setTextEntry(bool on);
std::string takeTypedText();

// Hooks of the start-up dialog: showRenderWindow calls `hide`.
void setStartDialogHider(void (*hide)());
