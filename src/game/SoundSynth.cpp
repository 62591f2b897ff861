#include "game/SoundSynth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// The rear wheel's spin at which the engine sounds at full revs, degrees/s
// (the throttle drives the wheel towards 3000).
constexpr double kFullSpin = 3000.0;

// Firing rate: a slow, low idle rising to a high buzz at full revs.
constexpr double kIdleHz = 22.0;
constexpr double kFullHz = 140.0;

// Time constants of the smoothing, seconds. Revs rise faster than they fall,
// as an engine's do; the throttle's colour follows at once, so that the
// player hears a key within a buffer or two.
constexpr double kRevsRise = 0.07;
constexpr double kRevsFall = 0.15;
constexpr double kLoadTime = 0.012;
constexpr double kEngineGainTime = 0.02;
constexpr double kMasterGainTime = 0.01;

// The share in x' = x + (target - x) * share, applied once per sample, that
// leaves 1/e of the distance to the target after `seconds`.
double smoothing(double seconds, double rate)
{
    return 1.0 - std::exp(-1.0 / (seconds * rate));
}

// A tone's envelope: a short linear rise (no click at its start), then an
// exponential fall.
double envelope(double t, double attack, double decay)
{
    if (t < 0.0) {
        return 0.0;
    }
    const double rise = t < attack ? t / attack : 1.0;
    return rise * std::exp(-t / decay);
}

// A note that starts `start` seconds into the voice.
double note(double t, double start, double hz, double decay, double brightness)
{
    const double u = t - start;
    if (u < 0.0) {
        return 0.0;
    }
    const double a = kTwoPi * hz * u;
    return envelope(u, 0.005, decay) * (std::sin(a) + brightness * std::sin(2.0 * a));
}

} // namespace

// How long each one-shot lasts, seconds; by then it has faded below 1e-4.
double SoundSynth::shotSeconds(Shot shot)
{
    switch (shot) {
    case Shot::Apple: return 0.8;
    case Shot::Finish: return 4.2;
    case Shot::BestFinish: return 5.1;
    case Shot::Crash: return 2.0;
    case Shot::None: break;
    }
    return 0.0;
}

void SoundSynth::reset(const SoundFeed& feed, int sampleRate)
{
    *this = SoundSynth{};
    rate = sampleRate > 0 ? sampleRate : 48000.0;
    heardApples = feed.applesTaken.load(std::memory_order_acquire);
    heardFinishes = feed.finishes.load(std::memory_order_acquire);
    heardBest = feed.bestFinishes.load(std::memory_order_acquire);
    heardCrashes = feed.crashes.load(std::memory_order_acquire);
    masterGain = feed.muted.load(std::memory_order_relaxed) ? 0.0 : 1.0;
    firingHz = kIdleHz;
}

double SoundSynth::noise()
{
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return static_cast<double>(seed) / 2147483648.0 - 1.0;
}

void SoundSynth::startShot(Shot shot)
{
    Voice* chosen = &voices[0];
    for (Voice& voice : voices) {
        if (voice.shot == Shot::None) {
            chosen = &voice;
            break;
        }
        if (voice.age > chosen->age) {
            chosen = &voice;
        }
    }
    *chosen = Voice{};
    chosen->shot = shot;
}

void SoundSynth::takeEvents(const SoundFeed& feed)
{
    const uint32_t apples = feed.applesTaken.load(std::memory_order_acquire);
    const uint32_t finishes = feed.finishes.load(std::memory_order_acquire);
    const uint32_t best = feed.bestFinishes.load(std::memory_order_acquire);
    const uint32_t crashes = feed.crashes.load(std::memory_order_acquire);
    // Several apples in one buffer sound as one.
    if (apples != heardApples) {
        startShot(Shot::Apple);
    }
    if (finishes != heardFinishes) {
        startShot(best != heardBest ? Shot::BestFinish : Shot::Finish);
    }
    if (crashes != heardCrashes) {
        startShot(Shot::Crash);
    }
    heardApples = apples;
    heardFinishes = finishes;
    heardBest = best;
    heardCrashes = crashes;
}

double SoundSynth::engineSample()
{
    // One firing of the cylinder: a pulse of a few decaying partials. Every
    // partial is zero at both ends of the firing, so a firing of another
    // length or strength joins its neighbours without a step.
    cyclePhase += firingHz / (rate * cycleStretch);
    if (cyclePhase >= 1.0) {
        cyclePhase -= std::floor(cyclePhase);
        // The idle is uneven: firings vary in length and strength and now
        // and then one is weak; at speed the engine runs smoothly.
        const double rough = 1.0 - revs;
        cycleStretch = 1.0 + 0.22 * rough * noise();
        cycleStrength = 1.0 - 0.3 * rough * (0.5 + 0.5 * noise());
        if (noise() > 1.0 - 0.12 * rough) {
            cycleStrength *= 0.3;
        }
    }
    const double p = cyclePhase;
    const double s1 = std::sin(kTwoPi * p);
    const double c1 = std::cos(kTwoPi * p);
    const double s2 = 2.0 * s1 * c1;
    const double s3 = s1 * (3.0 - 4.0 * s1 * s1);
    const double e2 = std::exp(-2.0 * p);
    const double e4 = e2 * e2;
    const double body = s1 * e2;
    const double rasp = 0.6 * s2 * e4 + 0.4 * s3 * e4 * e2;
    const double hiss = 0.05 * (0.3 + load) * noise() * e4 * e4;
    const double raw = cycleStrength * (body + (0.3 + 0.7 * load) * rasp) + hiss;

    // Soften the top: more of it passes with the throttle open.
    const double cutoff = 900.0 + 2600.0 * load;
    lowpass += (raw - lowpass) * (1.0 - std::exp(-kTwoPi * cutoff / rate));
    // Keep the level centred on zero (the firings are lopsided).
    const double centred = lowpass - dcIn + 0.999 * dcOut;
    dcIn = lowpass;
    dcOut = centred;
    return centred;
}

double SoundSynth::voiceSample(Voice& voice)
{
    const double t = static_cast<double>(voice.age) / rate;
    double value = 0.0;
    switch (voice.shot) {
    case Shot::Apple: {
        // A quick rising two-note chime.
        const double hz = t < 0.06 ? 1174.66 : 1567.98;
        voice.phase += hz / rate;
        voice.phase -= std::floor(voice.phase);
        value = 0.22 * envelope(t, 0.003, 0.09) * std::sin(kTwoPi * voice.phase);
        break;
    }
    case Shot::Finish:
        value = 0.16 * (note(t, 0.0, 523.25, 0.35, 0.2) + note(t, 0.12, 659.26, 0.35, 0.2) +
                        note(t, 0.24, 783.99, 0.35, 0.2) + note(t, 0.36, 1046.50, 0.5, 0.2));
        break;
    case Shot::BestFinish:
        // Quicker, brighter and a step higher at the end.
        value = 0.14 * (note(t, 0.0, 523.25, 0.3, 0.4) + note(t, 0.09, 659.26, 0.3, 0.4) +
                        note(t, 0.18, 783.99, 0.3, 0.4) + note(t, 0.27, 1046.50, 0.4, 0.4) +
                        note(t, 0.36, 1318.51, 0.4, 0.4) + note(t, 0.45, 1567.98, 0.6, 0.4));
        break;
    case Shot::Crash: {
        // A thump that drops in pitch under a burst of dull noise.
        const double hz = 40.0 + 60.0 * std::exp(-t / 0.08);
        voice.phase += hz / rate;
        voice.phase -= std::floor(voice.phase);
        const double cutoff = 300.0 + 2500.0 * std::exp(-t / 0.1);
        voice.state += (noise() - voice.state) * (1.0 - std::exp(-kTwoPi * cutoff / rate));
        value = envelope(t, 0.002, 0.15) * 0.5 * std::sin(kTwoPi * voice.phase) +
                envelope(t, 0.002, 0.22) * 0.6 * voice.state;
        break;
    }
    case Shot::None:
        return 0.0;
    }
    ++voice.age;
    if (t >= shotSeconds(voice.shot)) {
        voice.shot = Shot::None;
    }
    return value;
}

void SoundSynth::render(const SoundFeed& feed, float* out, int frames)
{
    takeEvents(feed);
    // The engine stops with the step that ends its run, before the frame
    // that shows the end panel; the next run's start is told apart from it
    // by its number, not by the panel having been seen.
    const bool ended = feed.endedRun.load(std::memory_order_acquire) == feed.runsStarted.load(std::memory_order_acquire);
    const bool running = feed.engineRunning.load(std::memory_order_relaxed) && !ended;
    const bool throttleOn = feed.throttle.load(std::memory_order_relaxed);
    // The square root spreads the spins of ordinary riding (a few hundred
    // to a thousand degrees per second) over more of the pitch range.
    const double spin =
        std::sqrt(std::min(1.0, std::fabs(feed.rearSpin.load(std::memory_order_relaxed)) / kFullSpin));
    // A stopped engine winds down, so that it starts again from idle.
    const double revsTarget = running ? std::clamp(0.7 * spin + (throttleOn ? 0.3 : 0.0), 0.0, 1.0) : 0.0;
    const double loadTarget = throttleOn ? 1.0 : 0.0;
    const double masterTarget = feed.muted.load(std::memory_order_relaxed) ? 0.0 : 1.0;

    const double rise = smoothing(kRevsRise, rate);
    const double fall = smoothing(kRevsFall, rate);
    const double loadShare = smoothing(kLoadTime, rate);
    const double gainShare = smoothing(kEngineGainTime, rate);
    const double masterShare = smoothing(kMasterGainTime, rate);

    for (int i = 0; i < frames; ++i) {
        revs += (revsTarget - revs) * (revsTarget > revs ? rise : fall);
        load += (loadTarget - load) * loadShare;
        firingHz = kIdleHz + (kFullHz - kIdleHz) * revs;
        const double gainTarget = running ? 0.3 + 0.2 * revs + 0.15 * load : 0.0;
        engineGain += (gainTarget - engineGain) * gainShare;
        masterGain += (masterTarget - masterGain) * masterShare;

        double mix = 0.0;
        // A stopped engine costs nothing; it picks up its firing where it
        // left off.
        if (engineGain > 1e-6 || running) {
            mix += engineGain * engineSample();
        }
        for (Voice& voice : voices) {
            if (voice.shot != Shot::None) {
                mix += voiceSample(voice);
            }
        }
        out[i] = static_cast<float>(std::clamp(masterGain * mix, -1.0, 1.0));
    }
}
