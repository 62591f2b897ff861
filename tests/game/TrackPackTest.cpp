// The shipped track pack: every track loads, starts the bike clear of the
// ground, has sound polygons, and can be finished with its key script.
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

std::string run(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), n);
    }
    pclose(pipe);
    return output;
}

} // namespace

TEST(TrackPack, ShipsAtLeastEightTracksEachWithAKeyScript)
{
    const auto names = shippedTracks();
    EXPECT_GE(names.size(), 8u);
    for (const auto& name : names) {
        EXPECT_TRUE(fs::exists(fs::path(VELTO_SOURCE_DIR) / "tests/data/tracks" / (name + ".keys")))
            << name << " has no key script";
    }
}

TEST(TrackPack, EveryTrackIsFinishedBySimulatorWithItsKeyScript)
{
    for (const auto& name : shippedTracks()) {
        const std::string command = std::string(VELTO_BINARY_DIR) + "/velto-sim " + VELTO_BINARY_DIR +
                                    "/tracks/" + name + ".vlt --keys " + VELTO_SOURCE_DIR +
                                    "/tests/data/tracks/" + name + ".keys";
        const std::string output = run(command);
        EXPECT_NE(output.find("result: finished"), std::string::npos) << name << ": " << output;
        // The proof run's whole trace is the same by brute force.
        const std::string trace = run(command + " --trace");
        EXPECT_GT(trace.size(), output.size()) << name;
        EXPECT_TRUE(trace == run(command + " --trace --brute-force")) << name;
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
