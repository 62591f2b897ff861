#include "PlatformTestSupport.h"

#include "platform/EventInjection.h"
#include "platform/SdlWindow.h"

namespace {

// Each key the modes read, by the code they read it under.
const int modeKeys[] = {VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, VK_SPACE, VK_RETURN, VK_ESCAPE, VK_TAB,
                        VK_SHIFT, VK_CONTROL, VK_DELETE, VK_INSERT, VK_HOME, VK_END, VK_PRIOR, VK_NEXT,
                        VK_F1, VK_F1 + 11, VK_ADD, VK_SUBTRACT, 'A', 'F', 'M', 'S', 'Z', '0', '9'};

int countDown()
{
    int n = 0;
    for (const auto& key : keyDown) {
        n += key ? 1 : 0;
    }
    return n;
}

class InputTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(openShown());
        window = x.find(kTitle);
        ASSERT_NE(window, 0u);
        settle();
        clearKeys();
    }

    // xdotool talks to the focused window through the X server, like a keyboard.
    void xdo(const std::string& args) { ASSERT_EQ(run("xdotool " + args), 0) << args; }

    Window window = 0;
};

} // namespace

TEST_F(InputTest, InjectedKeysSetAndClearTheirCodes)
{
    for (int vk : modeKeys) {
        injectKey(vk, true);
        drainEvents();
        EXPECT_TRUE(keyDown[vk]) << vk;
        EXPECT_EQ(countDown(), 1) << vk;
        injectKey(vk, true, true); // auto-repeat
        drainEvents();
        EXPECT_TRUE(keyDown[vk]) << vk;
        injectKey(vk, false);
        drainEvents();
        EXPECT_FALSE(keyDown[vk]) << vk;
    }
    EXPECT_EQ(countDown(), 0);
}

TEST_F(InputTest, AKeyTappedBetweenTwoFramesIsSeenByTheNextFrameAHeldOneLetsGoAtOnce)
{
    // A quick Ctrl+Z: all four events before a frame runs.
    injectKey(VK_CONTROL, true);
    injectKey('Z', true);
    injectKey('Z', false);
    injectKey(VK_CONTROL, false);
    drainEvents();   // ends where a frame runs
    EXPECT_TRUE(keyDown['Z']);
    EXPECT_TRUE(keyDown[VK_CONTROL]);
    drainEvents();
    EXPECT_EQ(countDown(), 0);

    // A key a frame has seen, auto-repeated, is up as soon as it is let go.
    injectKey(VK_RETURN, true);
    drainEvents();
    injectKey(VK_RETURN, true, true);
    injectKey(VK_RETURN, false);
    pumpMessage();
    pumpMessage();
    EXPECT_FALSE(keyDown[VK_RETURN]);
    drainEvents();
    EXPECT_EQ(countDown(), 0);
}

TEST_F(InputTest, AltKeysAndF10AreSystemKeys)
{
    injectKey(VK_MENU, true);
    injectKey('A', true);
    injectKey(VK_F1, true);
    drainEvents();
    EXPECT_EQ(countDown(), 0);
    injectKey('A', false);
    injectKey(VK_F1, false);
    injectKey(VK_MENU, false);
    injectKey(VK_F10, true);
    drainEvents();
    EXPECT_EQ(countDown(), 0);
    injectKey(VK_F10, false);
    // Without Alt the same key counts again.
    injectKey('A', true);
    drainEvents();
    EXPECT_TRUE(keyDown['A']);
}

TEST_F(InputTest, RealKeyboardReachesKeyDown)
{
    const struct {
        const char* name;
        int vk;
    } keys[] = {{"Up", VK_UP},         {"Left", VK_LEFT},        {"space", VK_SPACE},
                {"Return", VK_RETURN}, {"KP_Enter", VK_RETURN},  {"Escape", VK_ESCAPE},
                {"Tab", VK_TAB},       {"Shift_R", VK_SHIFT},    {"Control_L", VK_CONTROL},
                {"Delete", VK_DELETE}, {"Prior", VK_PRIOR},      {"Next", VK_NEXT},
                {"F1", VK_F1},         {"KP_Add", VK_ADD},       {"KP_Subtract", VK_SUBTRACT},
                {"m", 'M'},            {"s", 'S'},               {"7", '7'}};
    for (const auto& key : keys) {
        xdo(std::string("keydown ") + key.name);
        EXPECT_TRUE(pumpUntil([&] { return keyDown[key.vk].load(); })) << key.name;
        xdo(std::string("keyup ") + key.name);
        EXPECT_TRUE(pumpUntil([&] { return !keyDown[key.vk]; })) << key.name;
    }
    // Upper case is the same key.
    xdo("keydown shift+f");
    EXPECT_TRUE(pumpUntil([] { return keyDown['F'] && keyDown[VK_SHIFT]; }));
    xdo("keyup shift+f");
    EXPECT_TRUE(pumpUntil([] { return countDown() == 0; }));

    // Alt+S and F10 leave keyDown alone.
    xdo("keydown alt+s");
    settle();
    EXPECT_EQ(countDown(), 0);
    xdo("keyup alt+s");
    xdo("keydown F10");
    settle();
    EXPECT_EQ(countDown(), 0);
    xdo("keyup F10");
    settle();
    EXPECT_EQ(countDown(), 0);
}

TEST_F(InputTest, RealAutoRepeatKeepsTheKeyDown)
{
    xdo("keydown Right");
    ASSERT_TRUE(pumpUntil([] { return keyDown[VK_RIGHT].load(); }));
    // The server repeats after about 660 ms; a repeat is another key-down,
    // which sets the entry again after a mode has cleared it.
    keyDown[VK_RIGHT] = false;
    EXPECT_TRUE(pumpUntil([] { return keyDown[VK_RIGHT].load(); }, 2000));
    xdo("keyup Right");
    EXPECT_TRUE(pumpUntil([] { return !keyDown[VK_RIGHT]; }));
}

TEST_F(InputTest, MousePositionButtonsAndModifiers)
{
    injectMouseMove(123, 45);
    drainEvents();
    EXPECT_EQ(mouseX, 123);
    EXPECT_EQ(mouseY, 45);
    EXPECT_EQ(mouseButtons, 0);

    injectMouseButton(1, true, 130, 50);
    drainEvents();
    EXPECT_EQ(mouseButtons, MK_LBUTTON);
    EXPECT_EQ(mouseX, 130);
    injectMouseMove(140, 60); // a drag keeps the button
    drainEvents();
    EXPECT_EQ(mouseButtons, MK_LBUTTON);
    injectMouseButton(3, true, 140, 60);
    injectMouseButton(2, true, 140, 60);
    drainEvents();
    EXPECT_EQ(mouseButtons, MK_LBUTTON | MK_RBUTTON | MK_MBUTTON);
    injectMouseButton(1, false, 140, 60);
    injectMouseButton(2, false, 140, 60);
    drainEvents();
    EXPECT_EQ(mouseButtons, MK_RBUTTON);

    injectKey(VK_SHIFT, true);
    injectKey(VK_CONTROL, true);
    injectMouseMove(141, 61);
    drainEvents();
    EXPECT_EQ(mouseButtons, MK_RBUTTON | MK_SHIFT | MK_CONTROL);
    injectKey(VK_SHIFT, false);
    injectMouseButton(3, false, 142, 62);
    drainEvents();
    EXPECT_EQ(mouseButtons, MK_CONTROL);
    injectKey(VK_CONTROL, false);
    injectMouseMove(1, 2);
    drainEvents();
    EXPECT_EQ(mouseButtons, 0);
    EXPECT_EQ(mouseX, 1);
    EXPECT_EQ(mouseY, 2);

    // A click whose release comes before any frame ran: the next frame
    // still sees the button down, the one after sees it up.
    injectMouseButton(1, true, 20, 30);
    injectMouseMove(21, 31);
    injectMouseButton(1, false, 22, 32);
    drainEvents();
    EXPECT_EQ(mouseButtons, MK_LBUTTON);
    EXPECT_EQ(mouseX, 21);
    drainEvents();
    EXPECT_EQ(mouseButtons, 0);
    EXPECT_EQ(mouseX, 22);
    EXPECT_EQ(mouseY, 32);
}

TEST_F(InputTest, RealMouseInClientPixels)
{
    xdo("mousemove --window " + std::to_string(window) + " 200 150");
    EXPECT_TRUE(pumpUntil([] { return mouseX == 200 && mouseY == 150; })) << mouseX << "," << mouseY;
    xdo("mousedown 1");
    EXPECT_TRUE(pumpUntil([] { return mouseButtons == MK_LBUTTON; }));
    xdo("keydown ctrl");
    xdo("mousemove --window " + std::to_string(window) + " 210 160");
    EXPECT_TRUE(pumpUntil([] { return mouseButtons == (MK_LBUTTON | MK_CONTROL) && mouseX == 210; }))
        << mouseButtons;
    xdo("keyup ctrl");
    // Dragged past the window's edges, the position stays on its client area.
    const auto g = x.geometry(window);
    xdo("mousemove " + std::to_string(g.x - 80) + " " + std::to_string(g.y - 80));
    EXPECT_TRUE(pumpUntil([] { return mouseX == 0 && mouseY == 0; })) << mouseX << "," << mouseY;
    xdo("mousemove --window " + std::to_string(window) + " 300 200");
    EXPECT_TRUE(pumpUntil([] { return mouseX == 300; }));
    xdo("mousemove " + std::to_string(g.x + 880) + " " + std::to_string(g.y + 250));
    EXPECT_TRUE(pumpUntil([] { return mouseX == 799 && mouseY == 250; })) << mouseX << "," << mouseY;
    // Let go out there, the button is up all the same.
    xdo("mouseup 1");
    EXPECT_TRUE(pumpUntil([] { return mouseButtons == 0; })) << mouseButtons;
    xdo("mousemove --window " + std::to_string(window) + " 300 200");
    EXPECT_TRUE(pumpUntil([] { return mouseX == 300 && mouseButtons == 0; })) << mouseButtons;
    xdo("mousedown 3");
    EXPECT_TRUE(pumpUntil([] { return mouseButtons == MK_RBUTTON; }));
    xdo("mouseup 3");
    EXPECT_TRUE(pumpUntil([] { return mouseButtons == 0; }));
}

TEST_F(InputTest, FocusChangesSetWindowActive)
{
    // The screen saver is held off only while the window is active.
    EXPECT_TRUE(windowActive);
    EXPECT_TRUE(screenSaverHeldOff());
    injectFocus(false);
    drainEvents();
    EXPECT_FALSE(windowActive);
    EXPECT_FALSE(screenSaverHeldOff());
    injectFocus(true);
    drainEvents();
    EXPECT_TRUE(windowActive);
    EXPECT_TRUE(screenSaverHeldOff());

    // Alt+Tab with M and Ctrl held: their releases carry Alt and are
    // dropped, so losing the focus lets every key go.
    injectKey('M', true);
    injectKey(VK_CONTROL, true);
    injectKey(VK_MENU, true);
    injectKey('M', false);
    injectKey(VK_CONTROL, false);
    drainEvents();
    EXPECT_TRUE(keyDown['M']);
    injectFocus(false);
    injectKey(VK_MENU, false);
    injectMouseMove(3, 4);
    drainEvents();
    EXPECT_EQ(countDown(), 0);
    EXPECT_EQ(mouseButtons, 0);
    injectFocus(true);
    drainEvents();

    // A real switch to another program's window and back. A key held while
    // the focus goes elsewhere is let go, so that its release in the other
    // window cannot leave it stuck.
    xdo("keydown Up");
    ASSERT_TRUE(pumpUntil([] { return keyDown[VK_UP].load(); }));
    Display* other = x.display;
    const Window w = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 200, 100, 0, 0, 0);
    XStoreName(other, w, "Another program");
    XMapWindow(other, w);
    XFlush(other);
    settle();
    xdo("windowactivate --sync " + std::to_string(w));
    EXPECT_TRUE(pumpUntil([] { return !windowActive; }));
    EXPECT_FALSE(keyDown[VK_UP]);
    xdo("keyup Up");
    xdo("windowactivate --sync " + std::to_string(window));
    EXPECT_TRUE(pumpUntil([] { return windowActive.load(); }));
    XDestroyWindow(other, w);
    XFlush(other);
    closeRenderWindow();
    EXPECT_FALSE(windowActive);
    EXPECT_FALSE(screenSaverHeldOff());
}

TEST_F(InputTest, CloseRequestsLeaveTheWindowOpen)
{
    injectClose();
    drainEvents();
    EXPECT_TRUE(closeRequested);
    EXPECT_NE(x.find(kTitle), 0u);
    closeRequested = false;

    // The close box, as the window manager delivers it.
    x.sendDelete(window);
    EXPECT_TRUE(pumpUntil([] { return closeRequested.load(); }));
    closeRequested = false;
    // Alt+F4 under the window manager.
    xdo("key alt+F4");
    EXPECT_TRUE(pumpUntil([] { return closeRequested.load(); }));
    settle();
    EXPECT_NE(x.find(kTitle), 0u);
    EXPECT_EQ(pumpMessage(), PumpResult::Empty);
    EXPECT_EQ(countDown(), 0);
}
