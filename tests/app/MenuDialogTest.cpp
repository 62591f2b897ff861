// The FLTK start-up form on the test display.
#include "platform/MenuDialog.h"

#include "app/FormView.h"
#include "app/MenuHandlers.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <map>

namespace {

// Lets the form handle events for a while.
void pump(TMenuDialog& form, double seconds)
{
    form.processEvents(seconds);
}

std::map<std::string, TMenuDialog::ControlInfo> byName(const TMenuDialog& form)
{
    std::map<std::string, TMenuDialog::ControlInfo> result;
    for (const auto& info : form.controls()) {
        result[info.name] = info;
    }
    return result;
}

TEST(MenuDialog, ControlsSitWhereTheFormPutsThem)
{
    TMenuDialog form;
    auto c = byName(form);
    struct Expect {
        const char* name;
        const char* caption;
        int x, y, w, h;
        bool tabStop;
    };
    for (const Expect& e : std::initializer_list<Expect>{
             {"GroupBox1", "", 16, 8, 353, 105, false},
             {"Game", "Game", 24, 24, 81, 49, true},
             {"checkShowFPS", "Show FPS", 120, 24, 73, 25, false},
             {"checkFullscreen", "Fullscreen", 120, 48, 73, 25, false},
             {"resolution", "screen resolution", 248, 16, 105, 81, false},
             {"widthEdit", "", 256, 32, 33, 21, true},
             {"heightEdit", "", 304, 32, 33, 21, true},
             {"bitsEdit", "", 280, 64, 21, 21, true},
             {"GroupBox2", "", 16, 128, 353, 105, false},
             {"Editor", "Editor", 24, 144, 81, 49, true},
             {"NewTrackRadio", "New Track", 128, 144, 97, 25, true},
             {"LoadTrackRadio", "Load Track", 128, 168, 89, 25, true},
             {"loadButton", "..", 204, 171, 20, 19, false},
             {"path", "", 128, 200, 225, 21, false},
         }) {
        ASSERT_TRUE(c.count(e.name)) << e.name;
        const auto& info = c[e.name];
        EXPECT_EQ(info.caption, e.caption) << e.name;
        EXPECT_EQ(info.x, e.x) << e.name;
        EXPECT_EQ(info.y, e.y) << e.name;
        EXPECT_EQ(info.w, e.w) << e.name;
        EXPECT_EQ(info.h, e.h) << e.name;
        EXPECT_EQ(info.tabStop, e.tabStop) << e.name;
        EXPECT_TRUE(info.visible) << e.name;
    }
    // Labels at their places inside the group boxes.
    EXPECT_EQ(c["x"].caption, "x");
    EXPECT_EQ(c["x"].x, 248 + 46);
    EXPECT_EQ(c["x"].y, 16 + 18);
    EXPECT_EQ(c["Label2"].caption, "bits");
    EXPECT_EQ(c["Label2"].x, 248 + 60);
    EXPECT_EQ(c["Label1"].caption, "path:");
    EXPECT_EQ(c["Label1"].x, 16 + 84);
    EXPECT_EQ(c["Label1"].y, 128 + 73);
    EXPECT_LE(c["Label1"].x + c["Label1"].w, 128); // "path:" ends before its edit

    for (const char* name : {"Game", "Editor"}) {
        EXPECT_EQ(c[name].fontSize, 19);
        EXPECT_TRUE(c[name].bold);
    }
    EXPECT_EQ(c["checkShowFPS"].fontSize, 11);
    EXPECT_FALSE(c["checkShowFPS"].bold);

    const auto& loading = c["loading"];
    EXPECT_EQ(loading.caption, "loading...");
    EXPECT_EQ(loading.x, 24);
    EXPECT_EQ(loading.y, 240);
    EXPECT_EQ(loading.fontSize, 16);
    EXPECT_TRUE(loading.bold);
    EXPECT_TRUE(loading.italic);
    EXPECT_FALSE(loading.visible);

    // Initial values.
    EXPECT_EQ(form.text(TMenuDialog::Edit::width), "800");
    EXPECT_EQ(form.text(TMenuDialog::Edit::height), "600");
    EXPECT_EQ(form.text(TMenuDialog::Edit::bits), "32");
    EXPECT_EQ(form.text(TMenuDialog::Edit::path), "");
    EXPECT_FALSE(form.checked(TMenuDialog::Check::showFPS));
    EXPECT_FALSE(form.checked(TMenuDialog::Check::fullscreen));
    EXPECT_TRUE(form.checked(TMenuDialog::Check::newTrack));
    EXPECT_FALSE(form.checked(TMenuDialog::Check::loadTrack));
}

TEST(MenuDialog, EditsKeepTheirLengthsButTakeLongerStoredValues)
{
    TMenuDialog form;
    // Typing stops at 4, 4 and 2 characters.
    form.show(true);
    pump(form, 0.2);
    const struct {
        TMenuDialog::Edit edit;
        int x, y;
        const char* kept;
    } edits[] = {{TMenuDialog::Edit::width, 270, 42, "1234"},
                 {TMenuDialog::Edit::height, 318, 42, "1234"},
                 {TMenuDialog::Edit::bits, 290, 74, "12"}};
    for (const auto& edit : edits) {
        form.setText(edit.edit, "");
        const std::string command = "xdotool mousemove --window " + std::to_string(form.windowId()) + " " +
                                    std::to_string(edit.x) + " " + std::to_string(edit.y) +
                                    " click 1 type --delay 20 123456";
        ASSERT_EQ(std::system(command.c_str()), 0);
        pump(form, 0.3);
        EXPECT_EQ(form.text(edit.edit), edit.kept);
    }
    form.hide();
    form.setText(TMenuDialog::Edit::height, "65535");
    EXPECT_EQ(form.text(TMenuDialog::Edit::height), "65535");
    form.setChecked(TMenuDialog::Check::loadTrack, true);
    EXPECT_FALSE(form.checked(TMenuDialog::Check::newTrack));
    form.setChecked(TMenuDialog::Check::newTrack, true);
    EXPECT_FALSE(form.checked(TMenuDialog::Check::loadTrack));
}

// The form's X window: geometry in root coordinates.
struct Geometry {
    int x, y, w, h;
};

Geometry geometryOf(Display* display, Window window)
{
    XWindowAttributes a {};
    XGetWindowAttributes(display, window, &a);
    int rx = 0;
    int ry = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &rx, &ry, &child);
    return {rx, ry, a.width, a.height};
}

TEST(MenuDialog, ShowsCentredWithAFixedSizeAndTabsInOrder)
{
    TMenuDialog form;
    int keys = 0;
    int lastKey = 0;
    TMenuDialog::Handlers handlers;
    handlers.FormKeyDown = [&](int key) {
        ++keys;
        lastKey = key;
        if (key == 27) {
            form.terminate();
        }
    };
    form.setHandlers(handlers);
    form.show(true);
    pump(form, 0.3);
    ASSERT_TRUE(form.shown());

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Geometry g = geometryOf(display, form.windowId());
    EXPECT_EQ(g.w, 392);
    EXPECT_EQ(g.h, 273);
    const int screenW = DisplayWidth(display, DefaultScreen(display));
    const int screenH = DisplayHeight(display, DefaultScreen(display));
    EXPECT_NEAR(g.x + g.w / 2, screenW / 2, 12);
    EXPECT_NEAR(g.y + g.h / 2, screenH / 2, 30); // the title bar moves it down a little

    XSizeHints hints {};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(display, form.windowId(), &hints, &supplied));
    EXPECT_EQ(hints.min_width, 392);
    EXPECT_EQ(hints.max_width, 392);
    EXPECT_EQ(hints.min_height, 273);
    EXPECT_EQ(hints.max_height, 273);
    XCloseDisplay(display);

    EXPECT_EQ(form.tabOrder(), (std::vector<std::string>{"Game", "Editor", "widthEdit", "heightEdit",
                                                         "bitsEdit", "NewTrackRadio"}));
    // Tab walks the focus through the tab stops and back to Game.
    EXPECT_EQ(form.focusedControl(), "Game");
    std::vector<std::string> visited;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(std::system("xdotool key Tab"), 0);
        pump(form, 0.1);
        visited.push_back(form.focusedControl());
    }
    EXPECT_EQ(visited, (std::vector<std::string>{"Editor", "widthEdit", "heightEdit", "bitsEdit",
                                                 "NewTrackRadio", "Game"}));
    EXPECT_EQ(keys, 6);
    EXPECT_EQ(lastKey, 0x09);

    // Esc is seen by the form although an edit has the focus, and the edit
    // keeps its text.
    ASSERT_EQ(std::system("xdotool key Tab key Escape"), 0);
    pump(form, 0.3);
    EXPECT_EQ(lastKey, 27);
    EXPECT_TRUE(form.terminated());
    EXPECT_FALSE(form.shown());
    EXPECT_EQ(form.text(TMenuDialog::Edit::width), "800");
}

TEST(MenuDialog, ShowsAndHidesTheLoadingLabel)
{
    TMenuDialog form;
    form.show(true);
    pump(form, 0.2);
    form.setLoadingVisible(true);
    form.repaint();
    EXPECT_TRUE(form.loadingVisible());
    form.hide();
    EXPECT_FALSE(form.shown());
    form.setLoadingVisible(false);
    form.show(true);
    pump(form, 0.2);
    EXPECT_TRUE(form.shown());
    EXPECT_FALSE(form.loadingVisible());
}

} // namespace

// The form wired to the real handlers, driven by clicks and keys.
namespace {

void clickAt(const TMenuDialog& form, int x, int y)
{
    const std::string command = "xdotool mousemove --window " + std::to_string(form.windowId()) + " "
        + std::to_string(x) + " " + std::to_string(y) + " click 1";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

TEST(MenuDialog, ClicksReachTheHandlers)
{
    TMenuDialog form;
    FormView view(form);
    MenuHandlers handlers(view);
    int games = 0;
    int editors = 0;
    handlers.runGameMode = [&] { ++games; };
    handlers.runEditorMode = [&] { ++editors; };
    connectForm(form, handlers);
    std::vector<bool> dialogs;
    setFileDialogHandler([&](bool save, std::string&) {
        dialogs.push_back(save);
        return false;
    });
    std::vector<std::string> messages;
    setMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        messages.push_back(text);
        return IDOK;
    });
    form.show(true);
    pump(form, 0.3);

    clickAt(form, 136, 180); // Load Track with an empty path: the file dialog, cancelled
    pump(form, 0.3);
    EXPECT_EQ(dialogs, (std::vector<bool>{false}));
    EXPECT_TRUE(form.checked(TMenuDialog::Check::loadTrack));
    EXPECT_EQ(form.text(TMenuDialog::Edit::path), "");

    clickAt(form, 136, 156); // New Track
    pump(form, 0.2);
    EXPECT_TRUE(form.checked(TMenuDialog::Check::newTrack));
    clickAt(form, 200, 210); // path: typing checks Load Track again
    ASSERT_EQ(std::system("xdotool type --delay 20 nofile"), 0);
    pump(form, 0.3);
    EXPECT_EQ(form.text(TMenuDialog::Edit::path), "nofile");
    EXPECT_TRUE(form.checked(TMenuDialog::Check::loadTrack));

    clickAt(form, 64, 168); // Editor: the path names no file
    pump(form, 0.3);
    EXPECT_EQ(messages, (std::vector<std::string>{"File doesn't exist"}));
    EXPECT_EQ(editors, 0);

    clickAt(form, 214, 180); // "..": cancelled, the path stays
    pump(form, 0.3);
    EXPECT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(form.text(TMenuDialog::Edit::path), "nofile");

    clickAt(form, 136, 156); // New Track, then Editor: a new track
    clickAt(form, 64, 168);
    pump(form, 0.3);
    EXPECT_EQ(editors, 1);
    EXPECT_EQ(form.text(TMenuDialog::Edit::path), "");
    EXPECT_TRUE(form.shown()); // shown again after the mode
    EXPECT_FALSE(form.loadingVisible());

    clickAt(form, 64, 48); // Game: the file dialog, cancelled: nothing runs
    pump(form, 0.3);
    EXPECT_EQ(dialogs.size(), 3u);
    EXPECT_EQ(games, 0);

    // The arrow keys move the check in the radio group and run its handler.
    clickAt(form, 136, 156);
    ASSERT_EQ(std::system("xdotool key Down"), 0);
    pump(form, 0.3);
    EXPECT_TRUE(form.checked(TMenuDialog::Check::loadTrack));
    EXPECT_EQ(form.focusedControl(), "LoadTrackRadio");
    EXPECT_EQ(dialogs.size(), 4u);
    ASSERT_EQ(std::system("xdotool key Up"), 0);
    pump(form, 0.3);
    EXPECT_TRUE(form.checked(TMenuDialog::Check::newTrack));
    EXPECT_EQ(form.focusedControl(), "NewTrackRadio");
    ASSERT_EQ(std::system("xdotool key Left"), 0);
    pump(form, 0.3);
    EXPECT_TRUE(form.checked(TMenuDialog::Check::loadTrack));
    EXPECT_EQ(dialogs.size(), 5u);

    setFileDialogHandler(nullptr);
    setMessageBoxHandler(nullptr);
}

} // namespace
