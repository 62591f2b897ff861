// velto-thumbnail: the game draws a track's picture into a PPM file, with the
// whole track above and the start's and the finish's surroundings below.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Picture {
    int width = 0;
    int height = 0;
    std::string rgb;

    // Counts of sky-blue and earth-brown pixels in rows [top, bottom) and
    // columns [left, right).
    void count(int left, int right, int top, int bottom, int& sky, int& earth) const
    {
        sky = 0;
        earth = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                const size_t i = (static_cast<size_t>(y) * width + x) * 3;
                const int r = static_cast<unsigned char>(rgb[i]);
                const int b = static_cast<unsigned char>(rgb[i + 2]);
                sky += b > r + 40 ? 1 : 0;
                earth += r > b + 30 ? 1 : 0;
            }
        }
    }
    std::string panel(int left, int right, int top, int bottom) const
    {
        std::string pixels;
        for (int y = top; y < bottom; ++y) {
            pixels += rgb.substr((static_cast<size_t>(y) * width + left) * 3, static_cast<size_t>(right - left) * 3);
        }
        return pixels;
    }
};

bool readPpm(const std::string& path, Picture& picture)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int depth = 0;
    in >> magic >> picture.width >> picture.height >> depth;
    in.get();
    picture.rgb.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return magic == "P6" && depth == 255 && picture.width > 0 && picture.height > 0 &&
           picture.rgb.size() == static_cast<size_t>(picture.width) * picture.height * 3;
}

int run(const std::string& command)
{
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

} // namespace

TEST(Thumbnail, TheGameDrawsTheWholeTrackTheStartAndTheFinish)
{
    const fs::path dir = fs::temp_directory_path() / "velto-thumbnail-test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string out = (dir / "track.ppm").string();
    // A game that cannot open its window waits on a message box: time out.
    const std::string program = "timeout 60 " + std::string(VELTO_BINARY_DIR) + "/velto-thumbnail ";
    const std::string track = std::string(VELTO_BINARY_DIR) + "/tracks/02-first-ride.vlt ";
    ASSERT_EQ(run("cd " VELTO_BINARY_DIR " && " + program + track + out), 0);

    Picture picture;
    ASSERT_TRUE(readPpm(out, picture));
    EXPECT_EQ(picture.width, 480);
    EXPECT_EQ(picture.height, 300);
    // Above, sky over ground across the whole width; below, the start with
    // the bike and the finish with its flag, two different pictures.
    int sky = 0;
    int earth = 0;
    picture.count(0, 480, 0, 140, sky, earth);
    EXPECT_GT(sky, 480 * 140 / 5);
    EXPECT_GT(earth, 480 * 140 / 10);
    picture.count(0, 239, 142, 300, sky, earth);
    EXPECT_GT(sky, 0);
    EXPECT_GT(earth, 0);
    EXPECT_NE(picture.panel(0, 239, 142, 300), picture.panel(241, 480, 142, 300));

    // A picture that cannot be written is a failure, not a success.
    EXPECT_EQ(run("cd " VELTO_BINARY_DIR " && " + program + track + (dir / "no/such/folder.ppm").string() +
                  " 2>/dev/null"),
              1);
    EXPECT_EQ(run(program + "2>/dev/null"), 2);
    fs::remove_all(dir);
}
