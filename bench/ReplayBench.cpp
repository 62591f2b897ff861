// The cost of replays: a step with its keys recorded against a plain step,
// and the ghost's path of a ten-minute replay on shipped tracks.
#include "Tracks.h"

#include "model/Globals.h"
#include "model/Replay.h"
#include "physics/GhostPath.h"
#include "physics/RunKeys.h"
#include "physics/World.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string flatTrack()
{
    TrackDesign design;
    design.name = "flat";
    design.start = {0.0, 70.0};
    design.finish = {7000.0, 40.0};
    design.polygons = {{{-2000.0, -1000.0}, {7500.0, -1000.0}, {7500.0, 0.0}, {-2000.0, 0.0}}};
    design.apples = {{1000.0, 30.0}, {2000.0, 30.0}, {3000.0, 30.0}};
    const std::string path =
        (std::filesystem::temp_directory_path() / ("velto-bench-" + std::to_string(getpid()) + "-flat.vlt")).string();
    writeDesign(design, path);
    return path;
}

// Throttle along flat ground, restarted every 20 s; with `recorded` each
// step's keys go through the recorder and the step takes them as given, as
// in the game's physics thread.
void rideFlat(benchmark::State& state, bool recorded)
{
    const std::string path = flatTrack();
    KeyRecorder recorder;
    if (!buildWorld(path)) {
        state.SkipWithError("cannot build the world");
        return;
    }
    recorder.begin();
    clearKeys();
    keyDown[VK_UP] = true;
    keyDown[VK_RIGHT] = true;
    uint64_t step = 0;
    for (auto _ : state) {
        int32_t result = 0;
        if (recorded) {
            const uint8_t keys = heldDrivingKeys();
            recorder.record(step, keys);
            result = stepWorldWithKeys(kStepSeconds, keys);
        } else {
            result = stepWorld(kStepSeconds);
        }
        benchmark::DoNotOptimize(result);
        ++step;
        if (result != StepRunning || step % 2000 == 0) {
            state.PauseTiming();
            buildWorld(path);
            recorder.begin();
            step = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
    freeWorld();
    clearKeys();
    std::remove(path.c_str());
}

void BM_StepPlain(benchmark::State& state)
{
    rideFlat(state, false);
}

void BM_StepRecorded(benchmark::State& state)
{
    rideFlat(state, true);
}

// A ten-minute replay of a bike that waits at the start of a shipped track,
// its wheels in contact with the ground at every step.
void BM_GhostPathTenMinutes(benchmark::State& state)
{
    const TrackDesign design = trackPack()[static_cast<size_t>(state.range(0))];
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("velto-bench-" + std::to_string(getpid()) + "-" + design.name + ".vlt"))
                                 .string();
    writeDesign(design, path);
    Replay replay;
    replay.steps = 60000;
    replay.result = ReplayRunning;
    replay.changes = {{0, 0}};
    GhostPath ghost;
    for (auto _ : state) {
        if (!computeGhostPath(path, replay, ghost)) {
            state.SkipWithError("the ghost's ride did not hold");
            break;
        }
        benchmark::DoNotOptimize(ghost.poses.data());
    }
    state.SetLabel(design.name);
    std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_StepPlain);
BENCHMARK(BM_StepRecorded);
// Every shipped track.
BENCHMARK(BM_GhostPathTenMinutes)
    ->DenseRange(0, static_cast<int64_t>(trackPack().size()) - 1)
    ->Unit(benchmark::kMillisecond);
