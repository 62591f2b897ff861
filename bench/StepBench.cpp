// stepWorld on small and large tracks, shipped and generated, each through
// the broad phase (grid) and through the reference walk over every edge
// (brute). Reports steps per second (items_per_second).
#include "Tracks.h"

#include "model/Globals.h"
#include "physics/EdgeGrid.h"
#include "physics/World.h"

#include <benchmark/benchmark.h>

#ifdef VELTO_BENCH_MODULE_DIR
#include <dlfcn.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
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

// Ten thousand edges piled into a 100 x 100 area under the start, and one
// edge across the whole world: the grid's worst cases.
std::string piledTrack()
{
    std::vector<Polygon> polygons;
    polygons.push_back(Polygon{{{-2000.0, -1000.0}, {7500.0, -1000.0}, {7500.0, 0.0}, {-2000.0, 0.0}}});
    for (int i = 0; i < 2500; ++i) {
        const double x = -100.0 + 2.0 * (i % 50);
        const double y = -100.0 + 2.0 * (i / 50);
        polygons.push_back(Polygon{{{x, y}, {x + 1.0, y}, {x + 1.0, y + 1.0}, {x, y + 1.0}}});
    }
    polygons.push_back(Polygon{{{-7900.0, -5900.0}, {7900.0, -5800.0}, {7900.0, -5900.0}}});
    return writeTrack("piled.vlt", polygons, {});
}

std::string designTrack(const TrackDesign& design)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("velto-bench-" + std::to_string(getpid()) + "-" + design.name + ".vlt"))
                                 .string();
    writeDesign(design, path);
    return path;
}

// The bike and run state right after a build, put back to start a ride
// again without reading the track once more.
struct Restart {
    Cball frame, front, rear, head;
    void take()
    {
        frame = static_cast<const Cball&>(*simMoto);
        front = *simMoto->frontWheel;
        rear = *simMoto->rearWheel;
        head = *simMoto->head;
    }
    void put() const
    {
        static_cast<Cball&>(*simMoto) = frame;
        *simMoto->frontWheel = front;
        *simMoto->rearWheel = rear;
        *simMoto->head = head;
        facing = 1;
        braking = false;
        throttle = false;
        turnLatch = false;
        brakeLock = BrakeLock{};
    }
};

void runSteps(benchmark::State& state, const std::string& path, bool bruteForce)
{
    if (!buildWorld(path)) {
        state.SkipWithError("cannot build the world");
        return;
    }
    bruteForceContacts = bruteForce;
    Restart restart;
    restart.take();
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
            restart.put();
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
    bruteForceContacts = false;
    freeWorld();
    clearKeys();
}

// A track file written on first use and removed at exit.
class BenchTrack {
public:
    explicit BenchTrack(std::string path) : path_(std::move(path)) {}
    ~BenchTrack() { std::remove(path_.c_str()); }
    BenchTrack(const BenchTrack&) = delete;
    BenchTrack& operator=(const BenchTrack&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const std::string& benchTrackPath(const std::string& name)
{
    if (name == "small") {
        static const BenchTrack small(smallTrack());
        return small.path();
    }
    if (name == "large") {
        static const BenchTrack large(largeTrack());
        return large.path();
    }
    if (name == "piled") {
        static const BenchTrack piled(piledTrack());
        return piled.path();
    }
    if (name == "big") {
        static const BenchTrack big(designTrack(bigTrack(200000, 1)));
        return big.path();
    }
    // The pack's first track alone and with 100,000 or 1,000,000 edges
    // across the world far below the ride (velto-trackgen --far).
    if (name == "far-0") {
        static const BenchTrack far0(designTrack(farEdgesTrack(0, 1)));
        return far0.path();
    }
    if (name == "far-100k") {
        static const BenchTrack far100k(designTrack(farEdgesTrack(100000, 1)));
        return far100k.path();
    }
    if (name == "far-1m") {
        static const BenchTrack far1m(designTrack(farEdgesTrack(1000000, 1)));
        return far1m.path();
    }
    // A shipped track, by name; each is written once.
    static std::vector<std::unique_ptr<BenchTrack>> shipped;
    for (const auto& written : shipped) {
        if (written->path().ends_with("-" + name + ".vlt")) {
            return written->path();
        }
    }
    for (const TrackDesign& design : trackPack()) {
        if (design.name == name) {
            shipped.push_back(std::make_unique<BenchTrack>(designTrack(design)));
            return shipped.back()->path();
        }
    }
    static const std::string none;
    return none;
}

// One contact pass of a wheel at each of 400 places over and around the
// piled-up corner of the piled track: the grid's worst case, where most of
// a query's cells hold most of the edges.
void BM_PiledPass(benchmark::State& state, bool bruteForce)
{
    if (!buildWorld(benchTrackPath("piled"))) {
        state.SkipWithError("cannot build the world");
        return;
    }
    CedgeGrid grid;
    grid.build(trackPolygons, {kWorldLeft, kWorldRight, kWorldBottom, kWorldTop}, kWheelRadius);
    Cvector response;
    contactVelocity = &response;
    std::vector<Cball> wheels;
    for (int i = 0; i < 400; ++i) {
        Cball wheel(0.0, -100.0, -140.0 + 9.0 * (i % 20), -140.0 + 9.0 * (i / 20), kWheelRadius, 0.0, 0.0);
        wheels.push_back(wheel);
    }
    size_t next = 0;
    for (auto _ : state) {
        const Cball& wheel = wheels[next];
        next = next + 1 == wheels.size() ? 0 : next + 1;
        contactBacktrack = 0.0;
        const bool hit = bruteForce ? wheel.collidePolygons(trackPolygons, false) : grid.collide(wheel, false);
        benchmark::DoNotOptimize(hit);
    }
    state.SetItemsProcessed(state.iterations());
    contactVelocity = nullptr;
    freeWorld();
}

// Reading a track file and building the world of a run from it, and the
// grid alone, on the 200,000-edge track.
void BM_BuildWorld(benchmark::State& state)
{
    const std::string& path = benchTrackPath("big");
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildWorld(path));
    }
    freeWorld();
}

void BM_BuildGrid(benchmark::State& state)
{
    if (!buildWorld(benchTrackPath("big"))) {
        state.SkipWithError("cannot build the world");
        return;
    }
    CedgeGrid grid;
    for (auto _ : state) {
        grid.build(trackPolygons, {kWorldLeft, kWorldRight, kWorldBottom, kWorldTop}, kWheelRadius);
        benchmark::DoNotOptimize(grid.edgeCount());
    }
    freeWorld();
}

#ifdef VELTO_BENCH_MODULE_DIR
// A build of the core loaded as a module (bench/modules/StepEntry.cpp):
// "own" with the core's own transcendental functions, "library" with the C
// library's.
struct CoreModule {
    bool (*begin)(const char*) = nullptr;
    int32_t (*step)(bool) = nullptr;
    void (*end)() = nullptr;
};

const CoreModule* coreModule(const std::string& variant)
{
    static CoreModule modules[2];
    static bool loaded[2] = {false, false};
    const int i = variant == "own" ? 0 : 1;
    if (!loaded[i]) {
        loaded[i] = true;
        const std::string path = std::string(VELTO_BENCH_MODULE_DIR) + "/velto_bench_" + variant + ".so";
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            modules[i].begin = reinterpret_cast<bool (*)(const char*)>(dlsym(handle, "veltoModuleBegin"));
            modules[i].step = reinterpret_cast<int32_t (*)(bool)>(dlsym(handle, "veltoModuleStep"));
            modules[i].end = reinterpret_cast<void (*)()>(dlsym(handle, "veltoModuleEnd"));
        }
    }
    const CoreModule& m = modules[i];
    return m.begin != nullptr && m.step != nullptr && m.end != nullptr ? &m : nullptr;
}

// Steps per second of one build of the physics, ridden as runSteps rides.
void runModuleSteps(benchmark::State& state, const std::string& path, const std::string& variant)
{
    const CoreModule* module = coreModule(variant);
    if (module == nullptr || !module->begin(path.c_str())) {
        state.SkipWithError(("cannot load the " + variant + " module or build the world").c_str());
        return;
    }
    int64_t steps = 0;
    for (auto _ : state) {
        ++steps;
        benchmark::DoNotOptimize(module->step(steps % 2000 == 0));
    }
    state.SetItemsProcessed(state.iterations());
    module->end();
}
#endif

}  // namespace

BENCHMARK(BM_BuildWorld)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildGrid)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PiledPass, grid, false);
BENCHMARK_CAPTURE(BM_PiledPass, brute, true);

// The bench's small track, the bench's 20,000-edge track, a generated
// 200,000-edge track, the piled-up track, the first track with and without
// long edges far below the ride, and every shipped track, each through the
// grid and by brute force.
int main(int argc, char** argv)
{
    std::vector<std::string> names = {"small", "large", "big", "piled", "far-0", "far-100k", "far-1m"};
    for (const TrackDesign& design : trackPack()) {
        names.push_back(design.name);
    }
    for (const std::string& name : names) {
        for (const bool brute : {false, true}) {
            benchmark::RegisterBenchmark(("BM_Step/" + name + (brute ? "/brute" : "/grid")).c_str(),
                                         [name, brute](benchmark::State& state) {
                                             runSteps(state, benchTrackPath(name), brute);
                                         });
        }
    }
#ifdef VELTO_BENCH_MODULE_DIR
    // The same rides with the core's own math and with the C library's,
    // interleaved so that both meet the same machine load.
    std::vector<std::string> mathNames = {"big"};
    for (const TrackDesign& design : trackPack()) {
        mathNames.push_back(design.name);
    }
    for (const std::string& name : mathNames) {
        for (const char* variant : {"library", "own"}) {
            benchmark::RegisterBenchmark(("BM_StepMath/" + name + "/" + variant).c_str(),
                                         [name, variant](benchmark::State& state) {
                                             runModuleSteps(state, benchTrackPath(name), variant);
                                         });
        }
    }
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
