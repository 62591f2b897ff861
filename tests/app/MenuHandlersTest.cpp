#include "app/MenuHandlers.h"
#include "app/Settings.h"
#include "model/Globals.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBox.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

// The form's controls as plain values, with the form's initial state.
class FakeView : public MenuView {
public:
    std::string width = "800", height = "600", bits = "32", path;
    bool showFPS = false, full = false, loadTrack = false, loading = false;
    int repaints = 0, shows = 0, terminates = 0;

    std::string widthText() const override { return width; }
    std::string heightText() const override { return height; }
    std::string bitsText() const override { return bits; }
    void setWidthText(const std::string& t) override { width = t; }
    void setHeightText(const std::string& t) override { height = t; }
    void setBitsText(const std::string& t) override { bits = t; }
    bool showFPSChecked() const override { return showFPS; }
    bool fullscreenChecked() const override { return full; }
    void setShowFPSChecked(bool c) override { showFPS = c; }
    void setFullscreenChecked(bool c) override { full = c; }
    bool loadTrackChecked() const override { return loadTrack; }
    void checkLoadTrack() override { loadTrack = true; }
    void checkNewTrack() override { loadTrack = false; }
    std::string pathText() const override { return path; }
    void setPathText(const std::string& t) override { path = t; }
    void setLoadingVisible(bool v) override { loading = v; }
    void repaint() override { ++repaints; }
    void showDialog() override { ++shows; }
    void terminate() override { ++terminates; }
};

struct Message {
    std::string text, caption;
    unsigned flags;
};

// Answers the boxes and dialogs, runs fake modes, and keeps the process's
// current directory and globals as they were.
class MenuHandlersTest : public ::testing::Test {
protected:
    TempDir dir;    // where the program was started
    TempDir folder; // the program's own folder
    FakeView view;
    MenuHandlers handlers{view};
    std::vector<Message> messages;
    std::vector<bool> dialogs;     // save flag of each file dialog shown
    std::string dialogAnswer;      // empty: cancel
    int games = 0, editors = 0;
    bool loadingDuringMode = false;
    std::string cwdDuringMode;
    char oldCwd[4096] = {};

    void SetUp() override
    {
        ASSERT_NE(getcwd(oldCwd, sizeof oldCwd), nullptr);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        setMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned flags) {
            messages.push_back({text, caption, flags});
            return IDOK;
        });
        setFileDialogHandler([this](bool save, std::string& path) {
            dialogs.push_back(save);
            if (dialogAnswer.empty()) {
                return false;
            }
            path = dialogAnswer;
            return true;
        });
        handlers.programFolder = [this] { return folder.path().string(); };
        handlers.runGameMode = [this] { ++games; recordMode(); };
        handlers.runEditorMode = [this] { ++editors; recordMode(); };
        trackPath = "unset";
        modeWidth = modeHeight = modeBits = 0;
        showFPS = fullscreen = false;
        gameMode = false;
    }

    void TearDown() override
    {
        setMessageBoxHandler(nullptr);
        setFileDialogHandler(nullptr);
        ASSERT_EQ(chdir(oldCwd), 0);
    }

    void recordMode()
    {
        loadingDuringMode = view.loading;
        cwdDuringMode = std::filesystem::current_path().string();
    }

    std::string realFile(const std::string& name)
    {
        dir.write(name, {1, 2, 3});
        return std::filesystem::canonical(dir.file(name)).string();
    }
};

TEST_F(MenuHandlersTest, FormCreateShowsTheStoredSettings)
{
    handlers.FormCreate(); // no file: the initial values stay
    EXPECT_EQ(view.width, "800");
    EXPECT_EQ(view.height, "600");
    EXPECT_EQ(view.bits, "32");

    dir.write("Velto.dat", {0x00, 0x05, 0xFF, 0xFF, 16, 1, 1});
    handlers.FormCreate();
    EXPECT_EQ(view.width, "1280");
    EXPECT_EQ(view.height, "65535");
    EXPECT_EQ(view.bits, "16");
    EXPECT_TRUE(view.showFPS);
    EXPECT_TRUE(view.full);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MenuHandlersTest, FormDestroyWritesTheLowBitsOfEachValue)
{
    handlers.FormDestroy();
    EXPECT_EQ(dir.read("Velto.dat"), (Bytes{0x20, 0x03, 0x58, 0x02, 32, 0, 0}));

    view.width = "70000"; // 0x11170
    view.height = "-1";
    view.bits = "-2";
    view.showFPS = true;
    handlers.FormDestroy();
    EXPECT_EQ(dir.read("Velto.dat"), (Bytes{0x70, 0x11, 0xFF, 0xFF, 0xFE, 1, 0}));

    // What was written comes back at the next start.
    FakeView next;
    MenuHandlers again(next);
    again.FormCreate();
    EXPECT_EQ(next.height, "65535");
    EXPECT_EQ(next.bits, "254");
    EXPECT_TRUE(messages.empty());
}

TEST_F(MenuHandlersTest, FormDestroyWithATextThatIsNoNumberWritesNothing)
{
    dir.write("Velto.dat", {1, 2, 3, 4, 5, 0, 0});
    view.height = "6x0";
    handlers.FormDestroy();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'6x0' is not a valid integer value");
    EXPECT_EQ(dir.read("Velto.dat"), (Bytes{1, 2, 3, 4, 5, 0, 0}));

    view.height = "600";
    view.bits = "";
    handlers.FormDestroy();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "'' is not a valid integer value");
    EXPECT_EQ(dir.read("Velto.dat"), (Bytes{1, 2, 3, 4, 5, 0, 0}));
}

TEST_F(MenuHandlersTest, GameCancelledDoesNothing)
{
    const auto before = std::filesystem::current_path();
    handlers.GameClick();
    EXPECT_EQ(dialogs, (std::vector<bool>{false}));
    EXPECT_EQ(games, 0);
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_FALSE(view.loading);
    EXPECT_EQ(view.shows, 0);
    EXPECT_EQ(trackPath, "unset");
}

TEST_F(MenuHandlersTest, GameRunsInTheProgramFolderWithTheDialogsChoices)
{
    dialogAnswer = realFile("hill.vlt");
    view.width = "1024";
    view.height = "768";
    view.bits = "16";
    view.showFPS = true;
    view.full = true;
    // The radio buttons and the path are the editor's.
    view.loadTrack = true;
    view.path = "/no/such/file.vlt";
    handlers.GameClick();

    EXPECT_EQ(games, 1);
    EXPECT_EQ(trackPath, dialogAnswer);
    EXPECT_TRUE(gameMode);
    EXPECT_TRUE(showFPS);
    EXPECT_TRUE(fullscreen);
    EXPECT_EQ(modeWidth, 1024);
    EXPECT_EQ(modeHeight, 768);
    EXPECT_EQ(modeBits, 16);
    EXPECT_TRUE(loadingDuringMode);
    EXPECT_GE(view.repaints, 1);
    EXPECT_EQ(cwdDuringMode, std::filesystem::canonical(folder.path()).string());
    EXPECT_FALSE(view.loading);
    EXPECT_EQ(view.shows, 1);
    EXPECT_TRUE(messages.empty());

    // The settings are written where the program now stands.
    handlers.FormDestroy();
    EXPECT_EQ(folder.read("Velto.dat"), (Bytes{0x00, 0x04, 0x00, 0x03, 16, 1, 1}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("Velto.dat")));
}

TEST_F(MenuHandlersTest, GameWithANonNumberIsNotStarted)
{
    dialogAnswer = realFile("hill.vlt");
    view.bits = "3 2";
    handlers.GameClick();
    EXPECT_EQ(games, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'3 2' is not a valid integer value");
    EXPECT_EQ(trackPath, "unset");
    EXPECT_FALSE(view.loading); // the label does not stay up after the error
}

TEST_F(MenuHandlersTest, EditorWithANewTrackEmptiesThePath)
{
    view.path = "old/path.vlt";
    view.loadTrack = false;
    view.width = "640";
    view.showFPS = true;
    const auto before = std::filesystem::current_path();
    handlers.EditorClick();
    EXPECT_EQ(editors, 1);
    EXPECT_EQ(view.path, "");
    EXPECT_FALSE(view.loadTrack);
    EXPECT_EQ(trackPath, "");
    EXPECT_FALSE(gameMode);
    EXPECT_EQ(modeWidth, 640);
    EXPECT_FALSE(showFPS); // the editor has no frame-rate display
    EXPECT_TRUE(loadingDuringMode);
    EXPECT_EQ(cwdDuringMode, before.string()); // the folder is not changed for the editor
    EXPECT_FALSE(view.loading);
    EXPECT_EQ(view.shows, 1);
}

TEST_F(MenuHandlersTest, EditorLoadsAnExistingTrack)
{
    view.path = realFile("mine.vlt");
    view.loadTrack = true;
    handlers.EditorClick();
    EXPECT_EQ(editors, 1);
    EXPECT_EQ(trackPath, view.path);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MenuHandlersTest, EditorRefusesAPathThatNamesNoFile)
{
    view.loadTrack = true;
    for (const std::string& path : {std::string(), std::string("nothing.vlt"), dir.path().string()}) {
        view.path = path;
        handlers.EditorClick();
    }
    EXPECT_EQ(editors, 0);
    ASSERT_EQ(messages.size(), 3u);
    for (const auto& message : messages) {
        EXPECT_EQ(message.text, "File doesn't exist");
        EXPECT_EQ(message.caption, "Error");
        EXPECT_EQ(message.flags, 0x2030u);
    }
    EXPECT_FALSE(view.loading);
    EXPECT_EQ(view.shows, 0);
}

TEST_F(MenuHandlersTest, EditorWithANonNumberIsNotStarted)
{
    view.height = "-";
    handlers.EditorClick();
    EXPECT_EQ(editors, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'-' is not a valid integer value");
    EXPECT_FALSE(view.loading);
}

TEST_F(MenuHandlersTest, LoadTrackWithNoPathAsksForAFile)
{
    // The player clicked "Load Track": the form has checked it already.
    view.loadTrack = true;
    handlers.LoadTrackRadioClick();
    EXPECT_EQ(dialogs, (std::vector<bool>{false}));
    EXPECT_TRUE(view.loadTrack);
    EXPECT_EQ(view.path, "");
    // Cancelled: the editor then finds no file.
    handlers.EditorClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "File doesn't exist");

    dialogAnswer = realFile("chosen.vlt");
    handlers.LoadTrackRadioClick();
    EXPECT_EQ(view.path, dialogAnswer);

    // With a path already there, no dialog.
    handlers.LoadTrackRadioClick();
    EXPECT_EQ(dialogs.size(), 2u);
}

TEST_F(MenuHandlersTest, LoadButtonFillsThePathAndChecksLoadTrack)
{
    handlers.loadButtonClick(); // cancelled with no path: nothing changes
    EXPECT_FALSE(view.loadTrack);
    EXPECT_EQ(view.path, "");

    view.path = "typed.vlt";
    handlers.loadButtonClick(); // cancelled with a path: Load Track is checked
    EXPECT_TRUE(view.loadTrack);
    EXPECT_EQ(view.path, "typed.vlt");

    view.loadTrack = false;
    dialogAnswer = realFile("picked.vlt");
    handlers.loadButtonClick();
    EXPECT_EQ(view.path, dialogAnswer);
    EXPECT_TRUE(view.loadTrack);
    EXPECT_EQ(dialogs, (std::vector<bool>{false, false, false}));
}

} // namespace
