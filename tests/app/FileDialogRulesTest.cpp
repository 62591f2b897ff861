#include "platform/FileDialogs.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(FileDialogRules, FilterBecomesOneNamePatternPairPerLine)
{
    EXPECT_EQ(chooserFilter("Velto track file (*.vlt)|*.vlt|All files (*.*)|*.*"),
              "Velto track file (*.vlt)\t*.vlt\nAll files (*.*)\t*\n");
    EXPECT_EQ(chooserFilter(""), "");
    EXPECT_EQ(chooserFilter("Lonely name"), "");
}

TEST(FileDialogRules, DefaultExtensionOnlyWhenTheNameHasNone)
{
    EXPECT_EQ(withDefaultExtension("/a/b/track"), "/a/b/track.vlt");
    EXPECT_EQ(withDefaultExtension("track"), "track.vlt");
    EXPECT_EQ(withDefaultExtension("/a/b/track.vlt"), "/a/b/track.vlt");
    EXPECT_EQ(withDefaultExtension("/a/b/track.dat"), "/a/b/track.dat");
    EXPECT_EQ(withDefaultExtension("/a.b/track"), "/a.b/track.vlt"); // a dot in a folder does not count
    EXPECT_EQ(withDefaultExtension("/a/b/"), "/a/b/");
}

TEST(FileDialogRules, StartsInTracksBesideTheCurrentFolder)
{
    TempDir dir;
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const std::string real = std::filesystem::current_path().string();
    EXPECT_EQ(initialDialogFolder(), real);
    std::filesystem::create_directory(dir.path() / "tracks");
    EXPECT_EQ(initialDialogFolder(), real + "/tracks");
    ASSERT_EQ(chdir(old), 0);
}

TEST(FileDialogRules, HandlerAnswersBothDialogs)
{
    std::vector<bool> saves;
    setFileDialogHandler([&](bool save, std::string& path) {
        saves.push_back(save);
        if (save) {
            EXPECT_EQ(path, "proposed.vlt");
            path = "/somewhere/chosen.vlt";
            return true;
        }
        return false;
    });
    std::string path;
    EXPECT_FALSE(runOpenDialog(path));
    path = "proposed.vlt";
    EXPECT_TRUE(runSaveDialog(path));
    EXPECT_EQ(path, "/somewhere/chosen.vlt");
    setFileDialogHandler(nullptr);
    EXPECT_EQ(saves, (std::vector<bool>{false, true}));
}

} // namespace
