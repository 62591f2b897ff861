// The synthesiser's cost: one 512-sample buffer per iteration, with the
// engine at full revs and a crash and an apple sounding over it. The
// counter `times_realtime` is how many seconds of sound one second of CPU
// time makes; its inverse is the audio thread's share of a core.
#include "game/SoundSynth.h"

#include <benchmark/benchmark.h>

namespace {

void BM_SoundBuffer(benchmark::State& state)
{
    SoundFeed feed;
    SoundSynth synth;
    synth.reset(feed, 48000);
    feed.engineRunning = true;
    feed.throttle = true;
    feed.rearSpin = 2500.0f;
    float samples[512];
    int64_t buffers = 0;
    for (auto _ : state) {
        // A fresh apple and crash every so often keep two voices busy.
        if (buffers % 100 == 0) {
            feed.applesTaken.fetch_add(1);
            feed.crashes.fetch_add(1);
            feed.engineRunning = false;
        } else if (buffers % 100 == 1) {
            feed.engineRunning = true;
        }
        synth.render(feed, samples, 512);
        benchmark::DoNotOptimize(samples);
        ++buffers;
    }
    state.counters["times_realtime"] =
        benchmark::Counter(static_cast<double>(buffers) * 512.0 / 48000.0, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_SoundBuffer);
