// The shipped track pack: every track loads, starts the bike clear of the
// ground, has sound polygons, and is finished by its proof run, a replay that
// velto-sim checks.
#include "gfx/Tessellator.h"
#include "model/Globals.h"
#include "model/TrackFile.h"
#include "physics/Motorbike.h"
#include "physics/World.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> shippedTracks()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(VELTO_BINARY_DIR) / "tracks")) {
        if (entry.path().extension() == ".vlt") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The output of a command; `status` gets its exit status.
std::string run(const std::string& command, int& status)
{
    std::string output;
    status = -1;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), n);
    }
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

} // namespace

TEST(TrackPack, EveryTrackIsFinishedByItsProofRunAsItsReplaySays)
{
    const auto names = shippedTracks();
    EXPECT_GE(names.size(), 8u);
    for (const auto& name : names) {
        const std::string command = std::string(VELTO_BINARY_DIR) + "/velto-sim " + VELTO_BINARY_DIR +
                                    "/tracks/" + name + ".vlt --replay " + VELTO_SOURCE_DIR +
                                    "/tests/data/tracks/" + name + ".replay 2>&1";
        int status = -1;
        const std::string output = run(command, status);
        EXPECT_EQ(status, 0) << name << ": " << output;
        EXPECT_NE(output.find("result: finished"), std::string::npos) << name << ": " << output;
        // The proof run's whole trace is the same by brute force.
        const std::string trace = run(command + " --trace", status);
        EXPECT_GT(trace.size(), output.size()) << name;
        EXPECT_TRUE(trace == run(command + " --trace --brute-force", status)) << name;
        EXPECT_EQ(status, 0) << name;
    }
}

// (A player's best times may be stored in build/tracks: they are not checked.)
TEST(TrackPack, EveryTrackStartsClearOfGroundWithSoundPolygons)
{
    gameMode = true;
    createTessellator();
    for (const auto& name : shippedTracks()) {
        Cvector* start = nullptr;
        Cvector* finish = nullptr;
        int32_t polygonCount = 0;
        Cpolygons* polygons = nullptr;
        int32_t appleCount = 0;
        Capples* apples = nullptr;
        double best = 0.0;
        const std::string path = std::string(VELTO_BINARY_DIR) + "/tracks/" + name + ".vlt";
        ASSERT_TRUE(loadTrack(path, start, finish, polygonCount, polygons, appleCount, apples, best)) << name;
        std::unique_ptr<Cvector> startOwner(start);
        std::unique_ptr<Cvector> finishOwner(finish);
        std::unique_ptr<Cpolygons> polygonOwner(polygons);
        std::unique_ptr<Capples> appleOwner(apples);

        EXPECT_GT(appleCount, 0) << name;
        Cmoto bike(0.0, 0.0);
        bike.setPosition(start->x, start->y);
        EXPECT_FALSE(bike.touchesPolygons(polygons)) << name;
        EXPECT_FALSE(bike.head->outsideRect(kWorldLeft, kWorldRight, kWorldBottom, kWorldTop)) << name;
        for (Cpolygons* node = polygons; node != nullptr; node = node->next) {
            EXPECT_TRUE(node->polygon->isValid()) << name << " has a self-crossing polygon";
        }
    }
    deleteTessellator();
}
