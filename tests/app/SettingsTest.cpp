#include "app/Settings.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(SettingsFile, RoundTripIsSevenLittleEndianBytes)
{
    TempDir dir;
    MenuSettings written;
    written.width = 1024;
    written.height = 65535;
    written.bits = 16;
    written.showFPS = true;
    written.fullscreen = false;
    ASSERT_TRUE(writeSettings(dir.file("Velto.dat"), written));
    EXPECT_EQ(dir.read("Velto.dat"), (Bytes{0x00, 0x04, 0xFF, 0xFF, 16, 1, 0}));

    MenuSettings read;
    ASSERT_TRUE(readSettings(dir.file("Velto.dat"), read));
    EXPECT_EQ(read.width, 1024);
    EXPECT_EQ(read.height, 65535);
    EXPECT_EQ(read.bits, 16);
    EXPECT_TRUE(read.showFPS);
    EXPECT_FALSE(read.fullscreen);

    // Writing truncates a longer file to the seven bytes.
    dir.write("Velto.dat", Bytes(20, 7));
    ASSERT_TRUE(writeSettings(dir.file("Velto.dat"), written));
    EXPECT_EQ(dir.read("Velto.dat").size(), 7u);
}

TEST(SettingsFile, UnreadableFilesLeaveTheSettingsAlone)
{
    TempDir dir;
    MenuSettings settings;
    settings.width = 1;
    EXPECT_FALSE(readSettings(dir.file("missing.dat"), settings));

    dir.write("short.dat", {0x20, 0x03, 0x58, 0x02, 32, 1});
    EXPECT_FALSE(readSettings(dir.file("short.dat"), settings));

    dir.write("empty.dat", {});
    EXPECT_FALSE(readSettings(dir.file("empty.dat"), settings));

    EXPECT_FALSE(readSettings(dir.path().string(), settings)); // a folder

    EXPECT_EQ(settings.width, 1);
    EXPECT_EQ(settings.height, 600);
}

TEST(SettingsFile, ReadOnlyFileCountsAsMissing)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "root opens read-only files for writing";
    }
    TempDir dir;
    dir.write("Velto.dat", {0x00, 0x04, 0x00, 0x03, 16, 1, 1});
    ASSERT_EQ(chmod(dir.file("Velto.dat").c_str(), 0444), 0);
    MenuSettings settings;
    EXPECT_FALSE(readSettings(dir.file("Velto.dat"), settings));
    EXPECT_EQ(settings.width, 800);
    // Nor can it be written; that is reported to the caller, not thrown.
    EXPECT_FALSE(writeSettings(dir.file("Velto.dat"), settings));
    EXPECT_EQ(dir.read("Velto.dat"), (Bytes{0x00, 0x04, 0x00, 0x03, 16, 1, 1}));
}

// A FIFO in the settings' place is no settings file, and never holds the
// start.
TEST(SettingsFile, AFifoIsRefusedAtOnce)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("Velto.dat").c_str(), 0644), 0);
    MenuSettings settings;
    EXPECT_FALSE(readSettings(dir.file("Velto.dat"), settings));
    EXPECT_EQ(settings.width, 800);
}

TEST(SettingsFile, LongerFileReadsItsFirstSevenBytes)
{
    TempDir dir;
    dir.write("Velto.dat", {0x20, 0x03, 0x58, 0x02, 24, 0, 2, 99, 99});
    MenuSettings settings;
    ASSERT_TRUE(readSettings(dir.file("Velto.dat"), settings));
    EXPECT_EQ(settings.width, 800);
    EXPECT_EQ(settings.height, 600);
    EXPECT_EQ(settings.bits, 24);
    EXPECT_FALSE(settings.showFPS);
    EXPECT_TRUE(settings.fullscreen); // any non-zero byte checks the box
}

TEST(TextToInt, AcceptsSignedDecimalsInRange)
{
    int32_t value = 0;
    EXPECT_TRUE(textToInt("800", value));
    EXPECT_EQ(value, 800);
    EXPECT_TRUE(textToInt("-1", value));
    EXPECT_EQ(value, -1);
    EXPECT_TRUE(textToInt("+12", value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(textToInt("  7", value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(textToInt("2147483647", value));
    EXPECT_EQ(value, 2147483647);
    EXPECT_TRUE(textToInt("-2147483648", value));
    EXPECT_EQ(value, INT32_MIN);
}

TEST(TextToInt, RejectsEverythingElse)
{
    int32_t value = 42;
    for (const char* text : {"", " ", "-", "+", "abc", "12a", "1 2", "7 ", "1.5", "0x10", "2147483648",
                             "-2147483649", "99999999999999999999"}) {
        EXPECT_FALSE(textToInt(text, value)) << text;
    }
    EXPECT_EQ(value, 42);
    EXPECT_EQ(notIntegerMessage("abc"), "'abc' is not a valid integer value");
}

} // namespace
