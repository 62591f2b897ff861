// The game's sounds, made live: an engine whose firing rate and loudness
// follow the rear wheel's spin and the throttle, and short one-shot sounds
// for an apple taken, the finish (a brighter one for a best time) and a
// crash.
//
// Threads: SoundFeed is written by the physics thread (after each step) and
// by the main thread (once a frame, and the mute key), and read by the audio
// thread, only through lock-free atomics. SoundSynth belongs to the audio
// thread: render allocates nothing, takes no lock and makes no system call.
#pragma once

#include <atomic>
#include <cstdint>

// What the game tells the sound. Every member is a single lock-free atomic;
// the event members are counters that only grow, so that the audio thread
// sees each event once however seldom it looks.
struct SoundFeed {
    std::atomic<float> rearSpin{0.0f};         // |angular velocity| of the rear wheel, degrees/s
    std::atomic<bool> throttle{false};         // the throttle acted in the latest step
    std::atomic<bool> engineRunning{false};    // a run is under way: not paused, no end panel
    // Runs started so far, and the number of the latest run that has ended
    // (by a finish or a crash): the engine stops at once with its run, and
    // starts with the next one however briefly the end panel was shown.
    std::atomic<uint32_t> runsStarted{0};
    std::atomic<uint32_t> endedRun{UINT32_MAX};
    std::atomic<bool> muted{false};            // all sound off (the M key)
    std::atomic<uint32_t> applesTaken{0};
    std::atomic<uint32_t> finishes{0};
    std::atomic<uint32_t> bestFinishes{0};     // finishes in a new best time (counted in finishes too)
    std::atomic<uint32_t> crashes{0};
};
static_assert(std::atomic<float>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

class SoundSynth {
public:
    // Silent, engine stopped; the events already counted in `feed` are taken
    // as heard.
    void reset(const SoundFeed& feed, int sampleRate);

    // Fills `out` with `frames` mono samples in [-1, 1] from the current
    // state of `feed`.
    void render(const SoundFeed& feed, float* out, int frames);

    // The engine's firing rate right now, Hz (for tests and measurements).
    double firingRate() const { return firingHz; }

private:
    enum class Shot : uint8_t { None, Apple, Finish, BestFinish, Crash };
    struct Voice {
        Shot shot = Shot::None;
        int64_t age = 0;        // samples since the start
        double phase = 0.0;     // cycles of the current tone
        double state = 0.0;     // filter memory of the crash noise
    };

    static double shotSeconds(Shot shot);
    void takeEvents(const SoundFeed& feed);
    void startShot(Shot shot);
    double engineSample();
    double voiceSample(Voice& voice);
    double noise();

    double rate = 48000.0;
    uint32_t heardApples = 0, heardFinishes = 0, heardBest = 0, heardCrashes = 0;

    // Engine, each value following its target smoothly.
    double revs = 0.0;          // 0 idle .. 1 full, from spin and throttle
    double load = 0.0;          // 0 .. 1, the throttle
    double engineGain = 0.0;
    double masterGain = 1.0;
    double firingHz = 0.0;
    double cyclePhase = 0.0;    // 0 .. 1 within one firing
    double cycleStretch = 1.0;  // unevenness of the current firing's length
    double cycleStrength = 1.0; // and of its strength
    double lowpass = 0.0;
    double dcIn = 0.0, dcOut = 0.0;
    uint32_t seed = 0x9E3779B9u;

    static constexpr int kVoices = 8;
    Voice voices[kVoices];
};
