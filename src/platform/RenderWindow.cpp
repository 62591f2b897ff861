#include "platform/RenderWindow.h"

#include "gfx/Text.h"
#include "model/Globals.h"
#include "platform/Controllers.h"
#include "platform/KeyMap.h"
#include "platform/KeySources.h"
#include "platform/MessageBox.h"
#include "platform/SdlWindow.h"
#include "platform/WindowArt.h"

#include <GL/gl.h>
#include <SDL.h>

#include <algorithm>
#include <bitset>
#include <utility>

namespace {

SDL_Window* windowHandle = nullptr;
SDL_GLContext glContext = nullptr;
SDL_Cursor* crossCursor = nullptr;
bool cursorHiddenByWindow = false; // this window took one step off the show count
bool displayModeChanged = false;   // this window switched the display mode
bool videoStarted = false;
bool quitPosted = false;
int cursorShowCount = 0;
void (*startDialogHider)() = nullptr;
void (*keyPressListener)(int virtualKey) = nullptr;

// Modifiers as of the last key event, for the MK_SHIFT and MK_CONTROL flags.
Uint16 keyModifiers = KMOD_NONE;
// SDL_BUTTON masks of the buttons held, as of the last mouse event.
Uint32 buttonsHeld = 0;
// The modes read the buttons once a frame, so a press whose release comes
// before any frame ran would never be seen. Presses no frame has seen yet,
// and releases held back until one has, with where they happened.
Uint32 pressesUnseen = 0;
Uint32 releasesHeld = 0;
int releaseX = 0, releaseY = 0;
// Keys the same way: pressed (not by an auto-repeat) since the last frame,
// and releases held back until a frame has seen the key down. A key held
// over frames is released at once, as before.
std::bitset<256> keysUnseen;
std::bitset<256> keyReleasesHeld;
// pumpMessage said Empty last time: the mode has run a frame since.
bool frameRan = false;
// Text typed while text entry is on, not yet taken.
bool textEntryOn = false;
std::string typedText;
constexpr size_t kMaxTypedText = 256;

void failWith(const char* text)
{
    closeRenderWindow();
    messageBox(text, "Error", MB_ICONEXCLAMATION);
}

void applyCursorVisibility()
{
    if (videoStarted) {
        SDL_ShowCursor(cursorShowCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
    }
}

// Colour channel sizes for a requested depth; SDL treats them as minimums.
void requestColourBits(int bits)
{
    int red = 3, green = 3, blue = 2;
    if (bits >= 24) {
        red = green = blue = 8;
    } else if (bits >= 16) {
        red = 5, green = bits == 16 ? 6 : 5, blue = 5;
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, red);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, green);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, blue);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // Immediate mode and display lists need a compatibility context.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
}

// The display's own mode of exactly width x height, if it has one.
bool findFullscreenMode(int width, int height, SDL_DisplayMode& mode)
{
    SDL_DisplayMode wanted{};
    wanted.w = width;
    wanted.h = height;
    wanted.format = modeBits <= 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888;
    if (width <= 0 || height <= 0 || !SDL_GetClosestDisplayMode(0, &wanted, &mode)) {
        return false;
    }
    return mode.w == width && mode.h == height;
}

int mouseFlags()
{
    int flags = 0;
    if (buttonsHeld & SDL_BUTTON_LMASK) {
        flags |= MK_LBUTTON;
    }
    if (buttonsHeld & SDL_BUTTON_RMASK) {
        flags |= MK_RBUTTON;
    }
    if (buttonsHeld & SDL_BUTTON_MMASK) {
        flags |= MK_MBUTTON;
    }
    if (keyModifiers & KMOD_SHIFT) {
        flags |= MK_SHIFT;
    }
    if (keyModifiers & KMOD_CTRL) {
        flags |= MK_CONTROL;
    }
    return flags;
}

// While a button is held SDL follows the pointer out of the window (so
// that the release still comes here); the modes get client pixels.
void storeMouse(int x, int y)
{
    int width = 0, height = 0;
    if (windowHandle) {
        SDL_GetWindowSize(windowHandle, &width, &height);
    }
    mouseButtons = mouseFlags();
    mouseX = std::clamp(x, 0, std::max(width - 1, 0));
    mouseY = std::clamp(y, 0, std::max(height - 1, 0));
}

void translateKey(const SDL_KeyboardEvent& key)
{
    keyModifiers = key.keysym.mod;
    const int vk = virtualKeyFor(key.keysym);
    // Alt itself, keys pressed with Alt and F10 are system keys: they never
    // reach keyDown.
    if (vk <= 0 || vk > 255 || vk == VK_MENU || vk == VK_F10 || (key.keysym.mod & KMOD_ALT)) {
        return;
    }
    if (key.type == SDL_KEYDOWN) {
        pressKey(KeyboardSource, vk);
        keyReleasesHeld.reset(static_cast<size_t>(vk));
        if (!key.repeat) {
            keysUnseen.set(static_cast<size_t>(vk));
        }
    } else if (keysUnseen.test(static_cast<size_t>(vk))) {
        // A tap shorter than a frame: the next frame still sees it.
        keyReleasesHeld.set(static_cast<size_t>(vk));
    } else {
        releaseKey(KeyboardSource, vk);
    }
    if (key.type == SDL_KEYDOWN && !key.repeat && keyPressListener != nullptr) {
        keyPressListener(vk);
    }
}

void translateWindowEvent(const SDL_WindowEvent& event)
{
    if (!windowHandle || event.windowID != renderWindowId()) {
        return;
    }
    switch (event.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        windowActive = true;
        SDL_DisableScreenSaver();
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        windowActive = false;
        SDL_EnableScreenSaver();
        // The releases of keys held now go to the next window, or arrive
        // with Alt (Alt+Tab) and are dropped: let every key go here.
        clearKeys();
        forgetKeySources();
        keysUnseen.reset();
        keyReleasesHeld.reset();
        keyModifiers = KMOD_NONE;
        break;
    case SDL_WINDOWEVENT_CLOSE:
        closeRequested = true;
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        resizeView(event.data1, event.data2);
        break;
    default:
        break;
    }
}

// The window procedure's job: events become shared input state.
void translateEvent(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (windowHandle && event.key.windowID == renderWindowId()) {
            translateKey(event.key);
        }
        break;
    case SDL_MOUSEMOTION:
        if (event.motion.windowID != renderWindowId()) {
            break;
        }
        buttonsHeld = event.motion.state | releasesHeld;
        storeMouse(event.motion.x, event.motion.y);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (event.button.windowID != renderWindowId()) {
            break;
        }
        if (event.button.button == SDL_BUTTON_LEFT || event.button.button == SDL_BUTTON_RIGHT ||
            event.button.button == SDL_BUTTON_MIDDLE) {
            const Uint32 mask = SDL_BUTTON(event.button.button);
            if (event.button.state == SDL_PRESSED) {
                buttonsHeld |= mask;
                pressesUnseen |= mask;
                releasesHeld &= ~mask;
            } else if (pressesUnseen & mask) {
                // Released before any frame saw it pressed: keep it down
                // for one frame (see releaseHeldButtons).
                releasesHeld |= mask;
                releaseX = event.button.x;
                releaseY = event.button.y;
                break;
            } else {
                buttonsHeld &= ~mask;
            }
            storeMouse(event.button.x, event.button.y);
        }
        break;
    case SDL_WINDOWEVENT:
        translateWindowEvent(event.window);
        break;
    case SDL_TEXTINPUT:
        if (textEntryOn && windowHandle && event.text.windowID == renderWindowId()) {
            for (const char* c = event.text.text; *c != '\0' && typedText.size() < kMaxTypedText; ++c) {
                const auto u = static_cast<unsigned char>(*c);
                if (u >= 0x80 && u < 0xC0) {
                    continue;   // the rest of a character already marked
                }
                typedText += u >= 32 && u < 127 ? *c : '?';
            }
        }
        break;
    case SDL_QUIT:
        // The session asks the program to end: treated like the close box.
        closeRequested = true;
        break;
    default:
        translateControllerEvent(event);
        break;
    }
}

// After a frame has seen the buttons: the releases held back take effect.
bool releaseHeldButtons()
{
    if (!releasesHeld) {
        return false;
    }
    buttonsHeld &= ~releasesHeld;
    releasesHeld = 0;
    storeMouse(releaseX, releaseY);
    return true;
}

// After a frame has seen the keys: the key releases held back take effect.
bool releaseHeldKeys()
{
    if (keyReleasesHeld.none()) {
        return false;
    }
    for (int vk = 1; vk < 256; ++vk) {
        if (keyReleasesHeld.test(static_cast<size_t>(vk))) {
            releaseKey(KeyboardSource, vk);
        }
    }
    keyReleasesHeld.reset();
    return true;
}

} // namespace

bool ensureVideo()
{
    if (videoStarted) {
        return true;
    }
    // Signals keep their default action; the last window closing is not a quit.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        return false;
    }
    videoStarted = true;
    SDL_StopTextInput();
    // Only an active render window holds the screen saver off.
    SDL_EnableScreenSaver();
    applyCursorVisibility();
    return true;
}

uint32_t renderWindowId()
{
    return windowHandle ? SDL_GetWindowID(windowHandle) : 0;
}

bool openRenderWindow(const char* title, int width, int height, bool fullscreenFlag)
{
    fullscreen = fullscreenFlag;

    if (!ensureVideo()) {
        messageBox("Failed To Register The Window Class.", "Error", MB_ICONERROR);
        return false;
    }

    SDL_DisplayMode displayMode{};
    if (fullscreen && !findFullscreenMode(width, height, displayMode)) {
        messageBox("This FullScreen Mode Is Not Supported.", "Error", MB_ICONEXCLAMATION);
        return false;
    }

    if (gameMode) {
        showCursor(false);
        cursorHiddenByWindow = true;
    }

    requestColourBits(modeBits & 0xFF);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (!gameMode) {
        flags |= SDL_WINDOW_RESIZABLE;
    }
    if (!gameMode) {
        // The editor fills its polygons through a stencil buffer when it
        // gets one, and tessellates them when it does not.
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    }
    windowHandle = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                    width, height, flags);
    if (!windowHandle && !gameMode) {
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
        windowHandle = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                        width, height, flags);
    }
    if (!windowHandle) {
        // SDL loads GL and picks the pixel format while it creates the
        // window. When the same window without GL can be made, that step
        // is the one that failed.
        SDL_Window* plain = SDL_CreateWindow("", 0, 0, width, height, SDL_WINDOW_HIDDEN);
        if (plain) {
            SDL_DestroyWindow(plain);
        }
        failWith(plain ? "Cant't Find A Suitable PixelFormat." : "Window creation error.");
        return false;
    }

    if (SDL_Surface* icon = createWindowIcon()) {
        SDL_SetWindowIcon(windowHandle, icon);
        SDL_FreeSurface(icon);
    }
    if (!gameMode) {
        crossCursor = createCrossCursor();
        if (crossCursor) {
            SDL_SetCursor(crossCursor);
        }
    }

    if (fullscreen) {
        // The switch itself happens when the window is shown.
        if (SDL_SetWindowDisplayMode(windowHandle, &displayMode) != 0 ||
            SDL_SetWindowFullscreen(windowHandle, SDL_WINDOW_FULLSCREEN) != 0) {
            closeRenderWindow();
            messageBox("This FullScreen Mode Is Not Supported.", "Error", MB_ICONEXCLAMATION);
            return false;
        }
        SDL_DisplayMode chosen{};
        if (SDL_GetWindowDisplayMode(windowHandle, &chosen) != 0 || chosen.w != width || chosen.h != height) {
            closeRenderWindow();
            messageBox("This FullScreen Mode Is Not Supported.", "Error", MB_ICONEXCLAMATION);
            return false;
        }
        displayModeChanged = true;
    }

    glContext = SDL_GL_CreateContext(windowHandle);
    if (!glContext) {
        failWith("Cant't create a GL rendering context.");
        return false;
    }
    if (SDL_GL_MakeCurrent(windowHandle, glContext) != 0) {
        failWith("Cant't activate the GL rendering context.");
        return false;
    }
    // No waiting for the display; some servers cannot change it, which is fine.
    SDL_GL_SetSwapInterval(0);
    SDL_StopTextInput();

    int clientWidth = width, clientHeight = height;
    SDL_GetWindowSize(windowHandle, &clientWidth, &clientHeight);
    resizeView(clientWidth, clientHeight);

    initRenderState();
    return true;
}

void initRenderState()
{
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    buildTextFont();
}

void showRenderWindow()
{
    if (!windowHandle) {
        return;
    }
    SDL_ShowWindow(windowHandle);
    if (!gameMode) {
        SDL_MaximizeWindow(windowHandle);
    }
    SDL_RaiseWindow(windowHandle);
    SDL_SetWindowInputFocus(windowHandle);
    resizeView(modeWidth, modeHeight);

    // The system activates a shown window before the mode's first frame;
    // here focus arrives from the X server a little later, so wait for it,
    // looking every millisecond (it usually comes within one or two, and
    // the first frame waits for it). The events stay queued for pumpMessage.
    const Uint64 start = SDL_GetTicks64();
    while (SDL_GetTicks64() - start < 1000) {
        SDL_PumpEvents();
        if (SDL_GetWindowFlags(windowHandle) & SDL_WINDOW_INPUT_FOCUS) {
            windowActive = true;
            SDL_DisableScreenSaver();
            break;
        }
        SDL_Delay(1);
    }

    if (startDialogHider) {
        startDialogHider();
    }
}

void resizeView(int width, int height)
{
    if (glContext) {
        glViewport(0, 0, width, height);
    }
    viewWidth = width;
    viewHeight = height;
}

void presentFrame()
{
    if (!windowHandle || !glContext) {
        return;
    }
    glFinish();
    SDL_GL_SwapWindow(windowHandle);
}

void closeRenderWindow()
{
    if (glContext) {
        freeTextFont();
    }
    if (fullscreen && displayModeChanged && windowHandle) {
        SDL_SetWindowFullscreen(windowHandle, 0);
    }
    displayModeChanged = false;
    if (gameMode && cursorHiddenByWindow) {
        showCursor(true);
    }
    cursorHiddenByWindow = false;
    if (glContext) {
        if (SDL_GL_MakeCurrent(windowHandle, nullptr) != 0) {
            messageBox("Release of DC and RC failed.", " Shutdown Error", MB_ICONERROR);
        }
        SDL_GL_DeleteContext(glContext);
        glContext = nullptr;
    }
    if (windowHandle) {
        SDL_DestroyWindow(windowHandle);
        windowHandle = nullptr;
        windowActive = false;
        SDL_EnableScreenSaver();
        // What is still queued belongs to the window that is gone.
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    if (crossCursor) {
        SDL_SetCursor(SDL_GetDefaultCursor());
        SDL_FreeCursor(crossCursor);
        crossCursor = nullptr;
    }
    buttonsHeld = 0;
    pressesUnseen = 0;
    releasesHeld = 0;
    keysUnseen.reset();
    keyReleasesHeld.reset();
    frameRan = false;
    keyModifiers = KMOD_NONE;
    setTextEntry(false);
}

PumpResult pumpMessage()
{
    if (quitPosted) {
        quitPosted = false;
        return PumpResult::Quit;
    }
    if (!videoStarted) {
        return PumpResult::Empty;
    }
    if (std::exchange(frameRan, false)) {
        const bool buttons = releaseHeldButtons();
        const bool keys = releaseHeldKeys();
        if (buttons || keys) {
            return PumpResult::Dispatched;
        }
    }
    updateControllers();
    SDL_Event event;
    if (!SDL_PollEvent(&event)) {
        // The mode runs a frame now, which sees every press so far.
        pressesUnseen = 0;
        keysUnseen.reset();
        frameRan = true;
        return PumpResult::Empty;
    }
    translateEvent(event);
    return PumpResult::Dispatched;
}

void postQuitMessage()
{
    quitPosted = true;
}

int showCursor(bool show)
{
    cursorShowCount += show ? 1 : -1;
    applyCursorVisibility();
    return cursorShowCount;
}

void setKeyPressListener(void (*listener)(int virtualKey))
{
    keyPressListener = listener;
}

void setTextEntry(bool on)
{
    if (on != textEntryOn && videoStarted) {
        if (on) {
            SDL_StartTextInput();
        } else {
            SDL_StopTextInput();
        }
    }
    textEntryOn = on;
    typedText.clear();
}

std::string takeTypedText()
{
    return std::exchange(typedText, std::string());
}

void setStartDialogHider(void (*hide)())
{
    startDialogHider = hide;
}

bool screenSaverHeldOff()
{
    return videoStarted && !SDL_IsScreenSaverEnabled();
}
