// The programs' --version answer: the project's version, on the console,
// without a window.
#include "model/Version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct Output {
    int status = -1;
    std::string out;
};

// Runs a program of the build with no display, so that one that tried to
// open a window would fail.
Output run(const std::string& arguments)
{
    Output result;
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(VELTO_BINARY_DIR) + "/"
        + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return result;
    }
    char buffer[256];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.out.append(buffer, n);
    }
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

TEST(Version, EachProgramPrintsTheProjectVersionAndEnds)
{
    EXPECT_STREQ(veltoVersion(), VELTO_PROJECT_VERSION);
    std::vector<std::string> programs{"velto", "velto-sim"};
#ifdef VELTO_TEST_HUB
    programs.push_back("velto-hub");
#endif
    for (const std::string& program : programs) {
        const Output o = run(program + " --version");
        EXPECT_EQ(o.status, 0) << program;
        EXPECT_EQ(o.out, program + " " VELTO_PROJECT_VERSION "\n") << program;
    }
}

TEST(Version, OnlyALoneVersionOptionAsksForIt)
{
    const char* alone[] = {"velto", "--version"};
    const char* more[] = {"velto", "--version", "track.vlt"};
    const char* other[] = {"velto", "--versions"};
    EXPECT_TRUE(asksForVersion(2, alone));
    EXPECT_FALSE(asksForVersion(3, more));
    EXPECT_FALSE(asksForVersion(2, other));
    EXPECT_FALSE(asksForVersion(1, alone));
    // velto-sim takes --version among a ride's options as the unknown option
    // it is there.
    const Output o = run("velto-sim track.vlt --version");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
}

} // namespace
