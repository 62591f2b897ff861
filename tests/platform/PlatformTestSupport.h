// Support for the render-window tests: pumping events until something
// happens, finding our window on the X server, and running xdotool.
#pragma once

#include "model/Globals.h"
#include "platform/MessageBox.h"
#include "platform/RenderWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

// Xlib last: its macros (None, Bool, Status) clash with GoogleTest's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

inline constexpr const char* kTitle = "Velto platform test";

// Pumps events, one at a time, until `done` holds or `ms` have passed.
template <class Done>
bool pumpUntil(Done done, int ms = 3000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        while (pumpMessage() == PumpResult::Dispatched) {
            if (done()) {
                return true;
            }
        }
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Handles every waiting event.
inline void drainEvents()
{
    while (pumpMessage() == PumpResult::Dispatched) {
    }
}

// Lets the X server deliver what it has, then handles it.
inline void settle(int ms = 150)
{
    pumpUntil([] { return false; }, ms);
}

inline int run(const std::string& command)
{
    return std::system(command.c_str());
}

// A second connection to the X server, as another program would see us.
class XView {
public:
    XView() : display(XOpenDisplay(nullptr)) {}
    ~XView()
    {
        if (display) {
            XCloseDisplay(display);
        }
    }
    XView(const XView&) = delete;
    XView& operator=(const XView&) = delete;

    // The client window whose name is `name`; 0 when there is none.
    Window find(const std::string& name) { return display ? findBelow(DefaultRootWindow(display), name) : 0; }

    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;
    };
    Geometry geometry(Window w)
    {
        Geometry g;
        XWindowAttributes attributes{};
        XGetWindowAttributes(display, w, &attributes);
        Window child = 0;
        XTranslateCoordinates(display, w, DefaultRootWindow(display), 0, 0, &g.x, &g.y, &child);
        g.width = attributes.width;
        g.height = attributes.height;
        return g;
    }
    int screenWidth() { return DisplayWidth(display, DefaultScreen(display)); }
    int screenHeight() { return DisplayHeight(display, DefaultScreen(display)); }

    // Asks the window to close, as the close box does.
    void sendDelete(Window w)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, w, False, NoEventMask, &event);
        XFlush(display);
    }

    // Asks the window manager to take the window out of its maximised state.
    void unmaximise(Window w)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 0; // remove
        event.xclient.data.l[1] = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False));
        event.xclient.data.l[2] = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False));
        event.xclient.data.l[3] = 1;
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
        XFlush(display);
    }

    // The CARDINAL values of a property (empty when it is missing).
    std::vector<long> cardinals(Window w, const char* property)
    {
        std::vector<long> values;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, w, XInternAtom(display, property, False), 0, 1 << 20, False,
                               XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
            data && format == 32) {
            const long* longs = reinterpret_cast<const long*>(data);
            values.assign(longs, longs + count);
        }
        if (data) {
            XFree(data);
        }
        return values;
    }

    Display* display;

private:
    // _NET_WM_NAME, or else WM_NAME.
    std::string windowName(Window w)
    {
        std::string name;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, w, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024, False,
                               XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &after,
                               &data) == Success &&
            data && format == 8) {
            name.assign(reinterpret_cast<const char*>(data), count);
        }
        if (data) {
            XFree(data);
        }
        char* plain = nullptr;
        if (name.empty() && XFetchName(display, w, &plain) && plain) {
            name = plain;
            XFree(plain);
        }
        return name;
    }

    Window findBelow(Window w, const std::string& name)
    {
        if (windowName(w) == name) {
            return w;
        }
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (XQueryTree(display, w, &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count && !found; ++i) {
                found = findBelow(children[i], name);
            }
            if (children) {
                XFree(children);
            }
        }
        return found;
    }
};

struct ShownBox {
    std::string text, caption;
    unsigned flags;
};

// Settings of a windowed game at 800 x 600, and a message box handler that
// records what would have been shown.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gameMode = true;
        fullscreen = false;
        modeWidth = 800;
        modeHeight = 600;
        modeBits = 32;
        clearKeys();
        closeRequested = false;
        setMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned flags) {
            boxes.push_back({text, caption, flags});
            return IDOK;
        });
    }
    void TearDown() override
    {
        closeRenderWindow();
        setMessageBoxHandler(nullptr);
    }

    // Opens and shows the window; true when it has the focus.
    bool openShown(int width = 800, int height = 600, bool full = false)
    {
        modeWidth = width;
        modeHeight = height;
        if (!openRenderWindow(kTitle, width, height, full)) {
            return false;
        }
        showRenderWindow();
        return pumpUntil([] { return windowActive.load(); });
    }

    std::vector<ShownBox> boxes;
    XView x;
};
