// Game controllers pressing the game's keys: software controllers attached
// while the controller subsystem runs, read through the window's event loop.
#include "PlatformTestSupport.h"

#include "platform/Controllers.h"
#include "platform/EventInjection.h"
#include "platform/VirtualController.h"

namespace {

// The keys held, as a sorted list of codes.
std::vector<int> keysDown()
{
    std::vector<int> down;
    for (int vk = 0; vk < 256; ++vk) {
        if (keyDown[vk]) {
            down.push_back(vk);
        }
    }
    return down;
}

class ControllerTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(openShown());
        settle();
        clearKeys();
        ASSERT_TRUE(openControllers());
    }
    void TearDown() override
    {
        closeControllers();
        WindowTest::TearDown();
    }

    // A controller plugged in and seen by the event loop.
    int plugIn()
    {
        const int count = openControllerCount();
        const int pad = attachVirtualController();
        EXPECT_GE(pad, 0);
        EXPECT_TRUE(pumpUntil([count] { return openControllerCount() == count + 1; }));
        return pad;
    }

    // Pumps until the keys held are exactly `expected`.
    bool held(std::vector<int> expected)
    {
        std::sort(expected.begin(), expected.end());
        return pumpUntil([&] { return keysDown() == expected; }, 1000);
    }
};

} // namespace

TEST_F(ControllerTest, EachControlPressesItsKey)
{
    const int pad = plugIn();
    const struct {
        PadButton button;
        int vk;
    } buttons[] = {{PadButton::A, VK_UP},           {PadButton::B, VK_DOWN},
                   {PadButton::DpadUp, VK_UP},      {PadButton::DpadDown, VK_DOWN},
                   {PadButton::DpadLeft, VK_LEFT},  {PadButton::DpadRight, VK_RIGHT},
                   {PadButton::X, VK_SPACE},        {PadButton::Y, VK_SPACE},
                   {PadButton::Start, VK_ESCAPE},   {PadButton::Back, VK_RETURN}};
    for (const auto& b : buttons) {
        setVirtualButton(pad, b.button, true);
        EXPECT_TRUE(held({b.vk})) << b.vk;
        setVirtualButton(pad, b.button, false);
        EXPECT_TRUE(held({})) << b.vk;
    }
    // Buttons without a key.
    setVirtualButton(pad, PadButton::Guide, true);
    setVirtualAxis(pad, PadAxis::LeftY, 1.0);
    settle();
    EXPECT_TRUE(held({}));

    // Triggers count past half their travel.
    setVirtualAxis(pad, PadAxis::RightTrigger, 0.5);
    setVirtualAxis(pad, PadAxis::LeftTrigger, 0.5);
    settle();
    EXPECT_TRUE(held({}));
    setVirtualAxis(pad, PadAxis::RightTrigger, 0.6);
    EXPECT_TRUE(held({VK_UP}));
    setVirtualAxis(pad, PadAxis::LeftTrigger, 1.0);
    EXPECT_TRUE(held({VK_UP, VK_DOWN}));
    setVirtualAxis(pad, PadAxis::RightTrigger, 0.0);
    setVirtualAxis(pad, PadAxis::LeftTrigger, 0.4);
    EXPECT_TRUE(held({}));

    // The stick presses past half and lets go only back within 0.35.
    setVirtualAxis(pad, PadAxis::LeftX, 0.45);
    settle();
    EXPECT_TRUE(held({}));
    setVirtualAxis(pad, PadAxis::LeftX, 0.55);
    EXPECT_TRUE(held({VK_RIGHT}));
    setVirtualAxis(pad, PadAxis::LeftX, 0.4);
    settle();
    EXPECT_TRUE(held({VK_RIGHT}));
    setVirtualAxis(pad, PadAxis::LeftX, 0.3);
    EXPECT_TRUE(held({}));
    setVirtualAxis(pad, PadAxis::LeftX, -0.6);
    EXPECT_TRUE(held({VK_LEFT}));
    setVirtualAxis(pad, PadAxis::LeftX, -0.36);
    settle();
    EXPECT_TRUE(held({VK_LEFT}));
    // Straight across to the other side.
    setVirtualAxis(pad, PadAxis::LeftX, 0.9);
    EXPECT_TRUE(held({VK_RIGHT}));
    // Stick and d-pad together: the key goes when both have let go.
    setVirtualButton(pad, PadButton::DpadRight, true);
    setVirtualAxis(pad, PadAxis::LeftX, 0.0);
    settle();
    EXPECT_TRUE(held({VK_RIGHT}));
    setVirtualButton(pad, PadButton::DpadRight, false);
    EXPECT_TRUE(held({}));
    detachVirtualController(pad);
}

TEST_F(ControllerTest, AKeyIsDownWhileTheKeyboardOrAnyControllerHoldsIt)
{
    const int first = plugIn();
    const int second = plugIn();

    // Keyboard and controller: either release leaves the key to the other.
    // (settle: a change that shows in no key has been read all the same.)
    injectKey(VK_UP, true);
    EXPECT_TRUE(held({VK_UP}));
    setVirtualButton(first, PadButton::A, true);
    settle();
    injectKey(VK_UP, false);
    settle();
    EXPECT_TRUE(held({VK_UP}));
    injectKey(VK_UP, true);
    settle();
    setVirtualButton(first, PadButton::A, false);
    settle();
    EXPECT_TRUE(held({VK_UP}));
    injectKey(VK_UP, false);
    EXPECT_TRUE(held({}));

    // Two controllers.
    setVirtualButton(first, PadButton::Start, true);
    EXPECT_TRUE(held({VK_ESCAPE}));
    setVirtualButton(second, PadButton::Start, true);
    settle();
    setVirtualButton(second, PadButton::Start, false);
    settle();
    EXPECT_TRUE(held({VK_ESCAPE}));

    // A key the game has let go of (a pause) stays up while both still
    // hold it: one of them letting go does not bring it back.
    injectKey(VK_ESCAPE, true);
    settle();
    clearKeys();
    setVirtualButton(first, PadButton::Start, false);
    settle();
    EXPECT_TRUE(held({}));
    injectKey(VK_ESCAPE, false);
    settle();
    EXPECT_TRUE(held({}));

    // A key held while the focus leaves may never see its release (it goes
    // to the other window, or comes with Alt): the keyboard no longer
    // holds it, and a controller letting go of it lets it go.
    injectKey(VK_RIGHT, true);
    injectFocus(false);
    injectFocus(true);
    settle();
    EXPECT_TRUE(held({}));
    setVirtualButton(first, PadButton::DpadRight, true);
    EXPECT_TRUE(held({VK_RIGHT}));
    setVirtualButton(first, PadButton::DpadRight, false);
    settle();
    EXPECT_TRUE(held({}));
    detachVirtualController(first);
    detachVirtualController(second);
}

TEST_F(ControllerTest, PluggingInAndPullingOutWhileRunning)
{
    // Pulled out while holding keys: they go, unless the keyboard holds them.
    const int pad = plugIn();
    injectKey(VK_DOWN, true);
    setVirtualButton(pad, PadButton::B, true);
    setVirtualButton(pad, PadButton::Back, true);
    setVirtualAxis(pad, PadAxis::LeftX, -1.0);
    EXPECT_TRUE(held({VK_DOWN, VK_RETURN, VK_LEFT}));
    detachVirtualController(pad);
    EXPECT_TRUE(pumpUntil([] { return openControllerCount() == 0; }));
    EXPECT_TRUE(held({VK_DOWN}));
    injectKey(VK_DOWN, false);
    EXPECT_TRUE(held({}));

    // One plugged in afterwards works.
    const int next = plugIn();
    setVirtualButton(next, PadButton::X, true);
    EXPECT_TRUE(held({VK_SPACE}));

    // Closing lets go of everything and reads no controller any more.
    closeControllers();
    EXPECT_TRUE(held({}));
    EXPECT_EQ(openControllerCount(), 0);
    EXPECT_EQ(attachVirtualController(), -1);
}
