#include "platform/FileDialogs.h"
#include "platform/MessageBox.h"

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

} // namespace

namespace {

struct Asked {
    std::string text, caption;
    unsigned flags;
};

class SettleNames : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<Asked> asked;
    int answer = IDYES;

    void SetUp() override
    {
        setMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned flags) {
            asked.push_back({text, caption, flags});
            return answer;
        });
    }
    void TearDown() override { setMessageBoxHandler(nullptr); }
};

TEST_F(SettleNames, SavingOverAFileNamedOnlyWithTheExtensionAsksFirst)
{
    const std::string typed = dir.file("hill");
    std::string chosen;
    EXPECT_TRUE(settleSaveName(typed, chosen)); // nothing there yet
    EXPECT_EQ(chosen, typed + ".vlt");
    EXPECT_TRUE(asked.empty());

    dir.write("hill.vlt", {1});
    answer = IDNO;
    EXPECT_FALSE(settleSaveName(typed, chosen));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].caption, "Confirm Save As");
    EXPECT_NE(asked[0].text.find(typed + ".vlt"), std::string::npos);
    EXPECT_EQ(chosen, typed + ".vlt"); // proposed again in the dialog

    answer = IDCANCEL; // the box closed
    EXPECT_FALSE(settleSaveName(typed, chosen));
    answer = IDYES;
    EXPECT_TRUE(settleSaveName(typed, chosen));
    EXPECT_EQ(chosen, typed + ".vlt");

    // A name typed with its extension was asked about by the chooser itself.
    asked.clear();
    EXPECT_TRUE(settleSaveName(typed + ".vlt", chosen));
    EXPECT_TRUE(asked.empty());
}

TEST_F(SettleNames, OpeningFindsTheNameOrTheNameWithTheExtension)
{
    dir.write("hill.vlt", {1});
    dir.write("plain", {1});
    std::string chosen;
    EXPECT_TRUE(settleOpenName(dir.file("hill"), chosen));
    EXPECT_EQ(chosen, dir.file("hill.vlt"));
    EXPECT_TRUE(settleOpenName(dir.file("plain"), chosen));
    EXPECT_EQ(chosen, dir.file("plain"));
    EXPECT_TRUE(asked.empty());

    EXPECT_FALSE(settleOpenName(dir.file("none"), chosen));
    EXPECT_FALSE(settleOpenName(dir.path().string(), chosen)); // a folder is no track
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].text.find("File not found."), std::string::npos);
}

} // namespace
