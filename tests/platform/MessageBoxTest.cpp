#include "PlatformTestSupport.h"

#include <future>

namespace {

// Shows a real box: the box blocks, so xdotool answers it from a helper
// thread once the box's window exists. The box is drawn by a forked child,
// so the helper's X connection is opened before: a fork during
// XOpenDisplay would leave the child waiting on Xlib's lock for ever.
int answerRealBox(const std::string& caption, unsigned flags, const std::string& keys)
{
    XView view; // used by the helper thread only
    auto answer = std::async(std::launch::async, [&] {
        Window box = 0;
        for (int i = 0; i < 500 && !box; ++i) {
            box = view.find(caption);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!box) {
            return -1;
        }
        return run("xdotool windowactivate --sync " + std::to_string(box) + " key --delay 100 " + keys);
    });
    const int result = messageBox("A question for the test.", caption, flags);
    EXPECT_EQ(answer.get(), 0);
    return result;
}

} // namespace

TEST(MessageBoxTest, RealBoxesAnswerByKey)
{
    // Return takes the default button, Escape the cancelling one; the box
    // can come before any render window has been opened.
    EXPECT_EQ(answerRealBox("Velto box one", MB_YESNOCANCEL | MB_ICONQUESTION, "Return"), IDYES);
    EXPECT_EQ(answerRealBox("Velto box two", MB_YESNOCANCEL | MB_ICONQUESTION, "Escape"), IDCANCEL);
    EXPECT_EQ(answerRealBox("Velto box three", MB_OK | MB_ICONEXCLAMATION, "Return"), IDOK);
    // Closing the box with the window manager counts as Cancel.
    EXPECT_EQ(answerRealBox("Velto box four", MB_YESNOCANCEL | MB_ICONWARNING, "alt+F4"), IDCANCEL);
}

TEST_F(WindowTest, RealBoxOverTheGameWindow)
{
    ASSERT_TRUE(openShown());
    setMessageBoxHandler(nullptr);
    EXPECT_EQ(answerRealBox("Velto box five", MB_OK | MB_ICONERROR | MB_TASKMODAL, "Return"), IDOK);
    // The window comes back to the front afterwards and gets its focus again.
    run("xdotool windowactivate --sync " + std::to_string(x.find(kTitle)));
    EXPECT_TRUE(pumpUntil([] { return windowActive.load(); }));
}
