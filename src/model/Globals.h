// Shared settings and input state.
//
// The settings are written by the start-up dialog before a mode runs and read
// by the modes (main thread only). The input state is written by the render
// window's event handling on the main thread and polled by the modes and by
// the physics thread, so every input value is a single atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Win32 virtual-key codes used by the modes.
enum : int {
    VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11,
    VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
    VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27,
    VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D,
    VK_F1 = 0x70, VK_F5 = 0x74, VK_F6 = 0x75, VK_F10 = 0x79,
};

// Mouse button and modifier flags of mouseButtons.
enum : int {
    MK_LBUTTON = 0x0001, MK_RBUTTON = 0x0002, MK_SHIFT = 0x0004, MK_CONTROL = 0x0008,
    MK_MBUTTON = 0x0010,
};

// Settings handed from the start-up dialog to a mode.
extern bool gameMode;        // true for the game, false for the editor
extern bool fullscreen;      // the game's display mode is switched
extern bool showFPS;         // the game draws its frame rate
extern int32_t modeWidth;    // requested client size / full-screen resolution, pixels
extern int32_t modeHeight;
extern int32_t modeBits;     // requested colour depth, bits per pixel
extern std::string trackPath; // track file; empty for a new editor track

// Input and window state.
extern std::atomic<bool> keyDown[256];   // by virtual-key code
extern std::atomic<int32_t> mouseX;      // client pixels
extern std::atomic<int32_t> mouseY;      // client pixels, y downwards
extern std::atomic<int32_t> mouseButtons; // MK_* flags of the last mouse event
extern std::atomic<bool> windowActive;
extern std::atomic<bool> closeRequested;
extern std::atomic<int32_t> viewWidth;   // client size, pixels
extern std::atomic<int32_t> viewHeight;

// The editor's button states at the previous frame, so that a press is seen once.
extern bool leftHeld;
extern bool rightHeld;

// Sets all 256 keyDown entries to false.
void clearKeys();
