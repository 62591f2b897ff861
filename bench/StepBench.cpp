// stepWorld on a small track and on a generated track of about 20,000 edges.
// Reports steps per second (items_per_second).
#include "model/Globals.h"
#include "physics/World.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Polygon {
    std::vector<std::pair<double, double>> points;
};

void putDouble(std::string& out, double v)
{
    char b[8];
    std::memcpy(b, &v, 8);
    out.append(b, 8);
}

void putInt(std::string& out, int32_t v)
{
    char b[4];
    std::memcpy(b, &v, 4);
    out.append(b, 4);
}

std::string writeTrack(const std::string& name, const std::vector<Polygon>& polygons,
                       const std::vector<std::pair<double, double>>& apples)
{
    std::string bytes;
    putDouble(bytes, -1.0);
    putDouble(bytes, 0.0);     // start
    putDouble(bytes, 70.0);
    putDouble(bytes, 7000.0);  // finish
    putDouble(bytes, 40.0);
    putInt(bytes, static_cast<int32_t>(polygons.size()));
    for (const Polygon& p : polygons) {
        putInt(bytes, static_cast<int32_t>(p.points.size()));
        for (const auto& [x, y] : p.points) {
            putDouble(bytes, x);
            putDouble(bytes, y);
        }
    }
    putInt(bytes, static_cast<int32_t>(apples.size()));
    for (const auto& [x, y] : apples) {
        putDouble(bytes, x);
        putDouble(bytes, y);
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / ("velto-bench-" + std::to_string(getpid()) + "-" + name)).string();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

// Flat ground and a few apples.
std::string smallTrack()
{
    Polygon ground{{{-2000.0, -1000.0}, {7500.0, -1000.0}, {7500.0, 0.0}, {-2000.0, 0.0}}};
    return writeTrack("small.vlt", {ground}, {{1000.0, 30.0}, {2000.0, 30.0}, {3000.0, 30.0}});
}

// Gently rolling ground of 16,000 edges across the world, plus 1,000 small
// rocks of four edges each scattered above it: about 20,000 edges in all.
std::string largeTrack()
{
    std::vector<Polygon> polygons;
    Polygon ground;
    const int segments = 15998;
    for (int i = 0; i <= segments; ++i) {
        const double x = -7900.0 + 15800.0 * i / segments;
        ground.points.push_back({x, 8.0 * std::sin(x / 300.0) - 8.0});
    }
    ground.points.push_back({7900.0, -5000.0});
    ground.points.push_back({-7900.0, -5000.0});
    polygons.push_back(ground);
    for (int i = 0; i < 1000; ++i) {
        const double x = -7800.0 + 15.6 * i;
        const double y = 400.0 + 300.0 * ((i * 37) % 10);
        polygons.push_back(Polygon{{{x, y}, {x + 8.0, y}, {x + 8.0, y + 8.0}, {x, y + 8.0}}});
    }
    return writeTrack("large.vlt", polygons, {{2000.0, 30.0}});
}

void runSteps(benchmark::State& state, const std::string& path)
{
    if (!buildWorld(path)) {
        state.SkipWithError("cannot build the world");
        return;
    }
    clearKeys();
    keyDown[VK_UP] = true;
    keyDown[VK_RIGHT] = true;
    int64_t steps = 0;
    for (auto _ : state) {
        const int32_t result = stepWorld(kStepSeconds);
        benchmark::DoNotOptimize(result);
        ++steps;
        // Start again when the run ends or after 20 s of riding, so that
        // every step measured is a step of a bike on the ground.
        if (result != StepRunning || steps % 2000 == 0) {
            state.PauseTiming();
            buildWorld(path);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
    int64_t edges = 0;
    for (const Cpolygons* node = trackPolygons; node != nullptr && node->polygon != nullptr; node = node->next) {
        for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
            ++edges;
        }
    }
    state.counters["edges"] = static_cast<double>(edges);
    freeWorld();
    clearKeys();
    std::remove(path.c_str());
}

void BM_StepSmallTrack(benchmark::State& state)
{
    runSteps(state, smallTrack());
}

void BM_StepLargeTrack(benchmark::State& state)
{
    runSteps(state, largeTrack());
}

}  // namespace

BENCHMARK(BM_StepSmallTrack);
BENCHMARK(BM_StepLargeTrack);

BENCHMARK_MAIN();
