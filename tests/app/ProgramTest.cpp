// The real program on the test display: started as a player starts it,
// driven with xdotool, watched through Xlib.
#include "TempDir.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

const Bytes defaultSettings{0x20, 0x03, 0x58, 0x02, 32, 0, 0};

bool waitUntil(const std::function<bool()>& condition, double seconds)
{
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

void run(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A program folder of its own: a copy of build/velto with the build's
// textures and tracks beside it, so that what the program writes there
// stays out of the build.
class ProgramFolder {
public:
    ProgramFolder()
    {
        const std::filesystem::path build = VELTO_BINARY_DIR;
        std::filesystem::copy_file(build / "velto", dir.path() / "velto");
        for (const char* sub : {"textures", "tracks"}) {
            if (std::filesystem::exists(build / sub)) {
                std::filesystem::copy(build / sub, dir.path() / sub, std::filesystem::copy_options::recursive);
            }
        }
    }
    std::string executable() const { return dir.file("velto"); }
    const TempDir& folder() const { return dir; }

private:
    TempDir dir;
};

// One run of the program, started in `cwd`.
class Program {
public:
    // `dataHome` stands in for the player's ~/.local/share.
    Program(const std::string& executable, const std::string& cwd, const std::string& outputFile,
            const std::string& dataHome)
    {
        started = Clock::now();
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0); // with the message boxes' helper processes
            if (chdir(cwd.c_str()) != 0) {
                _exit(127);
            }
            const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
            execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program()
    {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            if (!exited) {
                waitpid(pid, nullptr, 0);
            }
        }
    }
    // True once the program has ended within `seconds`; `status` is its exit code.
    bool waitExit(double seconds, int& status)
    {
        const bool ended = waitUntil([&] {
            int s = 0;
            if (waitpid(pid, &s, WNOHANG) == pid) {
                exited = true;
                code = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
            }
            return exited;
        }, seconds);
        status = code;
        return ended;
    }
    Clock::time_point started;

private:
    pid_t pid = -1;
    bool exited = false;
    int code = -1;
};

// Windows come and go while the tree is walked: their errors are ignored.
int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

class Screen {
public:
    Screen() : display(XOpenDisplay(nullptr)) { XSetErrorHandler(ignoreXErrors); }
    ~Screen()
    {
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
    Display* display;

    // Viewable windows named `name` (any depth, since a window manager
    // reparents the clients).
    std::vector<Window> windows(const std::string& name)
    {
        std::vector<Window> found;
        collect(DefaultRootWindow(display), name, found);
        return found;
    }
    std::string windowClass(Window w)
    {
        XClassHint hint {};
        std::string result;
        if (XGetClassHint(display, w, &hint) != 0) {
            result = hint.res_class != nullptr ? hint.res_class : "";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        return result;
    }
    // The start-up form: the viewable FLTK window named Velto, or 0.
    Window form()
    {
        for (Window w : windows("Velto")) {
            if (windowClass(w) == "FLTK") {
                return w;
            }
        }
        return 0;
    }
    Window focus()
    {
        Window w = 0;
        int revert = 0;
        XGetInputFocus(display, &w, &revert);
        return w;
    }
    XImage* image(Window w)
    {
        XWindowAttributes a {};
        XGetWindowAttributes(display, w, &a);
        return XGetImage(display, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    }

private:
    void collect(Window parent, const std::string& name, std::vector<Window>& found)
    {
        Window root = 0;
        Window up = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, parent, &root, &up, &children, &count) == 0) {
            return;
        }
        for (unsigned i = 0; i < count; ++i) {
            // WM_NAME as stored, whether STRING or UTF8_STRING.
            XTextProperty title {};
            if (XGetWMName(display, children[i], &title) != 0 && title.value != nullptr) {
                const std::string text(reinterpret_cast<const char*>(title.value), title.nitems);
                XWindowAttributes a {};
                if (name == text && XGetWindowAttributes(display, children[i], &a) != 0
                    && a.map_state == IsViewable) {
                    found.push_back(children[i]);
                }
                XFree(title.value);
            }
            collect(children[i], name, found);
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
};

// Horizontal centres of the buttons of an SDL message box, left to right,
// found by their background colour in the box's bottom half.
std::vector<int> messageBoxButtons(Screen& screen, Window box, int& row)
{
    std::vector<int> centres;
    XImage* image = screen.image(box);
    if (image == nullptr) {
        return centres;
    }
    auto isButton = [&](int x, int y) {
        const unsigned long p = XGetPixel(image, x, y);
        const int r = static_cast<int>((p >> 16) & 0xFF);
        const int g = static_cast<int>((p >> 8) & 0xFF);
        const int b = static_cast<int>(p & 0xFF);
        return (r == 105 && g == 102 && b == 99) || (r == 205 && g == 202 && b == 53);
    };
    // The row that crosses the most buttons (the default one is taller);
    // a caption splits a button's run by less than the gap between buttons.
    for (int y = image->height - 1; y > image->height / 2; --y) {
        std::vector<std::pair<int, int>> runs;
        for (int x = 0; x < image->width; ++x) {
            if (!isButton(x, y)) {
                continue;
            }
            if (!runs.empty() && x - runs.back().second <= 12) {
                runs.back().second = x;
            } else {
                runs.push_back({x, x});
            }
        }
        std::vector<int> found;
        for (const auto& [from, to] : runs) {
            if (to - from >= 30) {
                found.push_back((from + to) / 2);
            }
        }
        if (found.size() > centres.size()) {
            centres = found;
            row = y - 3;
        }
    }
    XDestroyImage(image);
    return centres;
}

// Clicks button `index` (0 = leftmost) of the message box that appears
// beside the windows in `known`.
void answerMessageBox(Screen& screen, const std::set<Window>& known, const std::string& caption, int index,
                      std::size_t buttonCount)
{
    Window box = 0;
    ASSERT_TRUE(waitUntil([&] {
        for (Window w : screen.windows(caption)) {
            if (!known.count(w) && screen.windowClass(w) != "FLTK") {
                box = w;
                return true;
            }
        }
        return false;
    }, 10)) << "no message box " << caption;
    std::vector<int> buttons;
    int row = 0;
    ASSERT_TRUE(waitUntil([&] {
        buttons = messageBoxButtons(screen, box, row);
        return buttons.size() == buttonCount;
    }, 5)) << "found " << buttons.size() << " buttons"
           ;
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the box settle
    char command[200];
    std::snprintf(command, sizeof command, "xdotool mousemove --window %lu %d %d click 1",
                  static_cast<unsigned long>(box), buttons[static_cast<std::size_t>(index)], row);
    run(command);
}

void click(Window w, int x, int y)
{
    char command[160];
    std::snprintf(command, sizeof command, "xdotool mousemove --window %lu %d %d click 1",
                  static_cast<unsigned long>(w), x, y);
    run(command);
}

// Presses one key (or combination) and holds it for a while: the modes read
// keys once a frame, and a busy frame can miss a key let go at once.
void key(const std::string& keys)
{
    run("xdotool keydown " + keys + " sleep 0.1 keyup " + keys);
}

void type(const std::string& text)
{
    run("xdotool type --delay 30 -- '" + text + "'");
}

void screenshot(const std::string& name)
{
    const std::string path = std::string(VELTO_BINARY_DIR) + "/tests/" + name;
    std::system(("import -window root '" + path + "' 2>/dev/null").c_str());
}

class ProgramTest : public ::testing::Test {
protected:
    ProgramFolder program;
    TempDir cwd;
    TempDir dataHome;
    Screen screen;

    void SetUp() override
    {
        ASSERT_NE(screen.display, nullptr);
        ASSERT_TRUE(std::filesystem::exists(program.executable()));
    }

    std::unique_ptr<Program> start()
    {
        return std::make_unique<Program>(program.executable(), cwd.path().string(), cwd.file("output.txt"),
                                         dataHome.path().string());
    }

    // Waits for the form and returns it; the time it took goes to `seconds`.
    Window waitForm(double& seconds, const Program& p)
    {
        Window form = 0;
        EXPECT_TRUE(waitUntil([&] { return (form = screen.form()) != 0; }, 20)) << "no dialog";
        seconds = std::chrono::duration<double>(Clock::now() - p.started).count();
        // Wait for the form to have the focus before keys are sent.
        waitUntil([&] { return screen.focus() == form; }, 3);
        return form;
    }

    void quitWithEsc(Program& p)
    {
        key("Escape");
        int status = -1;
        ASSERT_TRUE(p.waitExit(5, status)) << "Esc did not end the program";
        EXPECT_EQ(status, 0);
        EXPECT_EQ(cwd.read("output.txt"), Bytes()) << "the program wrote to the console";
    }
};

TEST_F(ProgramTest, StartsIntoTheDialogAndEscSavesTheDefaults)
{
    auto p = start();
    double seconds = 0;
    const Window form = waitForm(seconds, *p);
    ASSERT_NE(form, 0u);
    std::printf("[ measure ] start to dialog on screen: %.3f s\n", seconds);
    RecordProperty("start_to_dialog_ms", static_cast<int>(seconds * 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    screenshot("velto-dialog.png");

    // The form is drawn: the Game button's caption puts dark pixels into
    // its face.
    XImage* image = screen.image(form);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 392);
    EXPECT_EQ(image->height, 273);
    int dark = 0;
    for (int y = 30; y < 68; ++y) {
        for (int x = 30; x < 100; ++x) {
            dark += (XGetPixel(image, x, y) & 0xFF) < 60 ? 1 : 0;
        }
    }
    XDestroyImage(image);
    EXPECT_GT(dark, 50);

    quitWithEsc(*p);
    EXPECT_EQ(cwd.read("Velto.dat"), defaultSettings);
}

TEST_F(ProgramTest, ChangedValuesComeBackAtTheNextStart)
{
    {
        auto p = start();
        double seconds = 0;
        const Window form = waitForm(seconds, *p);
        ASSERT_NE(form, 0u);
        click(form, 270, 42); // widthEdit
        key("ctrl+a");
        type("1024");
        key("Tab");           // heightEdit, its text selected
        type("-1");
        click(form, 126, 36); // Show FPS
        click(form, 160, 210); // path
        type("x");             // typing a path checks Load Track
        screenshot("velto-dialog-changed.png");
        quitWithEsc(*p);
        EXPECT_EQ(cwd.read("Velto.dat"), (Bytes{0x00, 0x04, 0xFF, 0xFF, 32, 1, 0}));
    }
    {
        auto p = start();
        double seconds = 0;
        ASSERT_NE(waitForm(seconds, *p), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        screenshot("velto-dialog-restored.png");
        quitWithEsc(*p); // written again from what the form showed
        EXPECT_EQ(cwd.read("Velto.dat"), (Bytes{0x00, 0x04, 0xFF, 0xFF, 32, 1, 0}));
    }
}

TEST_F(ProgramTest, ANonNumberIsReportedAndNothingIsWritten)
{
    cwd.write("Velto.dat", {0x00, 0x04, 0x00, 0x03, 16, 0, 0});
    auto p = start();
    double seconds = 0;
    const Window form = waitForm(seconds, *p);
    ASSERT_NE(form, 0u);
    click(form, 290, 74); // bitsEdit
    key("ctrl+a");
    type("ab");
    key("Escape");
    answerMessageBox(screen, {}, "Error", 0, 1);
    int status = -1;
    ASSERT_TRUE(p->waitExit(5, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cwd.read("Velto.dat"), (Bytes{0x00, 0x04, 0x00, 0x03, 16, 0, 0}));
}

TEST_F(ProgramTest, TheCloseBoxEndsTheProgramLikeEsc)
{
    auto p = start();
    double seconds = 0;
    const Window form = waitForm(seconds, *p);
    ASSERT_NE(form, 0u);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = form;
    event.xclient.message_type = XInternAtom(screen.display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(screen.display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(screen.display, form, False, NoEventMask, &event);
    XFlush(screen.display);
    int status = -1;
    ASSERT_TRUE(p->waitExit(5, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cwd.read("Velto.dat"), defaultSettings);
}

TEST_F(ProgramTest, EditorRunsFromTheDialogAndTheDialogComesBack)
{
#if defined(__SANITIZE_ADDRESS__)
    // "Save track?" is drawn by a child that SDL forks from the editor, which
    // runs the GL driver's threads by then; under AddressSanitizer that child
    // can deadlock before it draws its buttons. The plain build runs this.
    GTEST_SKIP() << "a forked child of a GL process under AddressSanitizer";
#endif
    auto p = start();
    double seconds = 0;
    const Window form = waitForm(seconds, *p);
    ASSERT_NE(form, 0u);
    const auto clicked = Clock::now();
    click(form, 64, 168); // Editor, with New Track
    Window editor = 0;
    ASSERT_TRUE(waitUntil([&] {
        for (Window w : screen.windows("Velto")) {
            if (screen.windowClass(w) != "FLTK") {
                editor = w;
                return true;
            }
        }
        return false;
    }, 20)) << "no editor window";
    std::printf("[ measure ] Editor to its window: %.3f s\n",
                std::chrono::duration<double>(Clock::now() - clicked).count());
    EXPECT_TRUE(waitUntil([&] { return screen.form() == 0; }, 5)) << "the dialog stayed up";
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    screenshot("velto-editor-from-dialog.png");

    key("Escape"); // "Save track?"
    answerMessageBox(screen, {editor}, "Velto", 1, 3); // No
    Window back = 0;
    ASSERT_TRUE(waitUntil([&] { return (back = screen.form()) != 0; }, 10)) << "the dialog did not come back";
    EXPECT_TRUE(waitUntil([&] { return screen.focus() == back; }, 3)) << "the dialog has no focus";
    quitWithEsc(*p);
    EXPECT_EQ(cwd.read("Velto.dat"), defaultSettings);
}

TEST_F(ProgramTest, GameRunsFromTheDialogAndTheSettingsGoBesideTheProgram)
{
    const std::string track = program.folder().file("tracks/02-first-ride.vlt");
    if (!std::filesystem::exists(track)) {
        GTEST_SKIP() << "no track pack in the build";
    }
    // The player had the first track on the desktop's recently used list
    // from another program already.
    const std::string listed = "<bookmark href=\"file://" + track + "\" added=\"2026-01-01T00:00:00Z\" "
        "modified=\"2026-01-01T00:00:00Z\" visited=\"2026-01-01T00:00:00Z\"><info><metadata "
        "owner=\"http://freedesktop.org\"><mime:mime-type type=\"text/plain\"/><bookmark:applications>"
        "<bookmark:application name=\"Another program\" exec=\"&apos;another %u&apos;\" "
        "modified=\"2026-01-01T00:00:00Z\" count=\"1\"/></bookmark:applications></metadata></info></bookmark>";
    const std::string xbel = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xbel version=\"1.0\" "
        "xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\" "
        "xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\">" + listed + "</xbel>\n";
    dataHome.write("recently-used.xbel", Bytes(xbel.begin(), xbel.end()));
    const auto choose = [&](const std::string& file) {
        ASSERT_TRUE(waitUntil([&] { return !screen.windows("Open").empty(); }, 20)) << "no file dialog";
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        key("ctrl+l");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        type(file);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    };

    auto p = start();
    double seconds = 0;
    const Window form = waitForm(seconds, *p);
    ASSERT_NE(form, 0u);
    click(form, 64, 48); // Game
    choose(track);
    const auto chosen = Clock::now();
    key("Return");
    ASSERT_TRUE(waitUntil([&] {
        for (Window w : screen.windows("Velto")) {
            if (screen.windowClass(w) != "FLTK") {
                return true;
            }
        }
        return false;
    }, 60)) << "no game window";
    // The first frame: the sky over the track puts colour into the window.
    // The window is looked for again each time: the first one found can be
    // replaced by another while the game sets up its drawing.
    const auto drawn = [&](Window w) {
        XImage* image = screen.image(w);
        if (image == nullptr) {
            return false;
        }
        int coloured = 0;
        for (int y = 0; y < image->height; y += 16) {
            for (int x = 0; x < image->width; x += 16) {
                coloured += (XGetPixel(image, x, y) & 0xFFFFFF) != 0 ? 1 : 0;
            }
        }
        XDestroyImage(image);
        return coloured > 100;
    };
    EXPECT_TRUE(waitUntil([&] {
        for (Window w : screen.windows("Velto")) {
            if (screen.windowClass(w) != "FLTK" && drawn(w)) {
                return true;
            }
        }
        return false;
    }, 60)) << "the game drew nothing"; // a sanitizer build on a busy machine takes over 20 s
    std::printf("[ measure ] track chosen to the game's first frame: %.3f s\n",
                std::chrono::duration<double>(Clock::now() - chosen).count());
    EXPECT_TRUE(waitUntil([&] { return screen.form() == 0; }, 5)) << "the dialog stayed up";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    screenshot("velto-game-from-dialog.png");

    key("Escape"); // pause
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    key("Escape"); // quit
    Window back = 0;
    ASSERT_TRUE(waitUntil([&] { return (back = screen.form()) != 0; }, 10)) << "the dialog did not come back";
    EXPECT_TRUE(waitUntil([&] { return screen.focus() == back; }, 3)) << "the dialog has no focus";
    // Load Track: another track, through the same dialog.
    const std::string second = program.folder().file("tracks/03-valley.vlt");
    click(back, 136, 180);
    choose(second);
    key("Return");
    ASSERT_TRUE(waitUntil([&] { return screen.windows("Open").empty(); }, 10)) << "the file dialog stayed";
    EXPECT_TRUE(waitUntil([&] { return screen.focus() == back; }, 3)) << "the dialog has no focus";
    quitWithEsc(*p);
    // The game made the program's folder the current one.
    EXPECT_EQ(program.folder().read("Velto.dat"), defaultSettings);
    EXPECT_FALSE(std::filesystem::exists(cwd.file("Velto.dat")));
    // The file dialogs kept the tracks off the desktop's recently used
    // files, and left the entry that was there before.
    const auto recentBytes = dataHome.read("recently-used.xbel");
    const std::string recent(recentBytes.begin(), recentBytes.end());
    EXPECT_NE(recent.find("file://" + track), std::string::npos) << recent;
    EXPECT_NE(recent.find("Another program"), std::string::npos) << recent;
    EXPECT_EQ(recent.find("03-valley"), std::string::npos) << recent;
}

} // namespace

namespace {

TEST(InstalledProgram, StartsFromItsLauncherBesideItsTexturesAndTracks)
{
    TempDir prefix;
    TempDir cwd;
    TempDir dataHome;
    Screen screen;
    ASSERT_NE(screen.display, nullptr);
    run("cmake --install '" + std::string(VELTO_BINARY_DIR) + "' --prefix '" + prefix.path().string()
        + "' >/dev/null");
    const auto folder = prefix.path() / "lib" / "velto";
    for (const auto& file : {folder / "velto", folder / "textures" / "sky.jpg", folder / "tracks",
                             prefix.path() / "bin" / "velto", prefix.path() / "share" / "applications" / "velto.desktop",
                             prefix.path() / "share" / "icons" / "hicolor" / "scalable" / "apps" / "velto.svg"}) {
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }
    const auto desktop = TempDir::readFile((prefix.path() / "share" / "applications" / "velto.desktop").string());
    EXPECT_NE(std::string(desktop.begin(), desktop.end()).find("Exec=velto"), std::string::npos);

    // The installed folder is writable here, so the launcher runs the
    // program in it, and the settings land there.
    Program p((prefix.path() / "bin" / "velto").string(), cwd.path().string(), cwd.file("output.txt"),
              dataHome.path().string());
    Window form = 0;
    ASSERT_TRUE(waitUntil([&] { return (form = screen.form()) != 0; }, 20)) << "no dialog";
    waitUntil([&] { return screen.focus() == form; }, 3);
    key("Escape");
    int status = -1;
    ASSERT_TRUE(p.waitExit(5, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(TempDir::readFile((folder / "Velto.dat").string()), defaultSettings);
}

} // namespace
