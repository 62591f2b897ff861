// velto-sim: runs a track without a window, step by step, exactly as the
// game's physics thread does, driven by a key script.
//
//   velto-sim TRACK [--keys FILE | --replay FILE] [--record FILE] [--max-steps N] [--trace]
//             [--digest] [--step-digests] [--brute-force]
//
// --record writes the replay of the ride; --replay rides a replay and checks
// that it names this track and ends as its header says.
// --digest prints, instead of the result line, one line of 16 hex digits:
// the digest of the whole run, every step's bike state bit for bit
// (physics/RunDigest.h). --step-digests prints the step count and the digest
// so far after each step, to find the first step where two rides part.
// --brute-force tests every edge of the track in each contact pass instead of
// asking the broad phase; the trace is the same bit for bit, only slower.
//
// Exit status: 0 when the simulation ran (whatever its result), 1 when the
// track cannot be loaded, 2 for bad arguments or a bad key script or replay,
// 3 when the output or the recorded replay cannot be written, 4 when a
// replay does not hold for the track or was recorded by an earlier physics
// (one line on stderr says why).
#include "model/FileAccess.h"
#include "model/KeyScript.h"
#include "model/Replay.h"

#include "model/Globals.h"
#include "model/RunTime.h"
#include "physics/ReplayRide.h"
#include "physics/RunDigest.h"
#include "physics/World.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int32_t kDefaultMaxSteps = 360000;

void usage()
{
    std::fputs("usage: velto-sim TRACK [--keys FILE | --replay FILE] [--record FILE] [--max-steps N] [--trace]"
               " [--digest] [--step-digests] [--brute-force]\n",
               stderr);
}

int badArguments(const std::string& why)
{
    std::fprintf(stderr, "velto-sim: %s\n", why.c_str());
    usage();
    return 2;
}

bool parseSteps(const std::string& text, int32_t& steps)
{
    if (text.empty() || text.size() > 10) {
        return false;
    }
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    steps = static_cast<int32_t>(value);
    return true;
}

void appendNumber(std::string& line, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, line.empty() ? "%.17g" : " %.17g", value);
    line += text;
}

void appendBall(std::string& line, const Cball& ball)
{
    appendNumber(line, ball.position.x);
    appendNumber(line, ball.position.y);
    appendNumber(line, ball.velocity.x);
    appendNumber(line, ball.velocity.y);
    appendNumber(line, ball.angle);
    appendNumber(line, ball.angularVelocity);
}

void printTrace(int32_t result)
{
    std::string line;
    appendNumber(line, stepCount.load());
    appendNumber(line, result);
    appendNumber(line, applesLeft);
    appendNumber(line, facing.load());
    appendBall(line, *simMoto);
    appendBall(line, *simMoto->frontWheel);
    appendBall(line, *simMoto->rearWheel);
    appendNumber(line, simMoto->head->position.x);
    appendNumber(line, simMoto->head->position.y);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

// After each step: the run's digest, the trace and step digest lines, and
// the run's own keys, as changes, for --record.
class SimObserver : public RideObserver {
public:
    SimObserver(bool trace, bool stepDigests, Replay* record)
        : trace_(trace), stepDigests_(stepDigests), record_(record)
    {
    }
    void afterStep(uint64_t step, uint8_t keys, int32_t result) override
    {
        if (record_ != nullptr && (step == 0 || record_->changes.back().keys != keys)) {
            record_->changes.push_back(KeyChange{step, keys});
        }
        digest.addStep(result);
        if (trace_) {
            printTrace(result);
        }
        if (stepDigests_) {
            std::printf("%d %016llx\n", stepCount.load(), static_cast<unsigned long long>(digest.value()));
        }
    }
    RunDigest digest;

private:
    bool trace_;
    bool stepDigests_;
    Replay* record_;
};

}  // namespace

int main(int argc, char** argv)
{
    std::string trackFile;
    std::string keysFile;
    std::string recordFile;
    bool haveTrack = false;
    bool haveKeys = false;
    bool isReplay = false;
    bool haveRecord = false;
    bool haveSteps = false;
    bool trace = false;
    bool digestOnly = false;
    bool stepDigests = false;
    int32_t maxSteps = kDefaultMaxSteps;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--trace") {
            trace = true;
        } else if (arg == "--digest") {
            digestOnly = true;
        } else if (arg == "--step-digests") {
            stepDigests = true;
        } else if (arg == "--brute-force") {
            bruteForceContacts = true;
        } else if (arg == "--keys" || arg == "--replay" || arg == "--record" || arg == "--max-steps") {
            if (i + 1 >= argc) {
                return badArguments(arg + " needs a value");
            }
            const std::string value = argv[++i];
            if (arg == "--keys" || arg == "--replay") {
                if (haveKeys) {
                    return badArguments("only one of --keys and --replay, once");
                }
                keysFile = value;
                haveKeys = true;
                isReplay = arg == "--replay";
            } else if (arg == "--record") {
                if (haveRecord) {
                    return badArguments("--record given twice");
                }
                recordFile = value;
                haveRecord = true;
            } else {
                if (haveSteps) {
                    return badArguments("--max-steps given twice");
                }
                if (!parseSteps(value, maxSteps)) {
                    return badArguments("--max-steps needs a whole number from 1 to 2147483647, not '" +
                                        value + "'");
                }
                haveSteps = true;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return badArguments("unknown option '" + arg + "'");
        } else if (haveTrack) {
            return badArguments("more than one track given");
        } else {
            trackFile = arg;
            haveTrack = true;
        }
    }
    if (!haveTrack) {
        return badArguments("no track given");
    }

    std::vector<KeyChange> changes;
    Replay replay;
    if (isReplay) {
        std::string error;
        const ReplayReadError read = readReplayFile(keysFile, replay, error);
        if (read == ReplayReadError::EarlierPhysics) {
            std::fprintf(stderr, "velto-sim: %s: %s; it does not ride on this version\n", keysFile.c_str(),
                         error.c_str());
            return 4;
        }
        if (read != ReplayReadError::None) {
            std::fprintf(stderr, "velto-sim: %s: %s\n", keysFile.c_str(), error.c_str());
            return 2;
        }
        changes = replay.changes;
    } else if (haveKeys) {
        // The same bound and the same refusals as a replay: only a regular
        // file of at most kMaxKeyScriptBytes is read.
        std::string text;
        std::string error;
        if (readBoundedFile(keysFile, kMaxKeyScriptBytes, text, error) != FileReadError::None) {
            std::fprintf(stderr, "velto-sim: %s: %s\n", keysFile.c_str(), error.c_str());
            return 2;
        }
        if (!parseKeyScript(text, changes, error)) {
            std::fprintf(stderr, "velto-sim: %s: %s\n", keysFile.c_str(), error.c_str());
            return 2;
        }
    }

    clearKeys();
    uint64_t digest = 0;
    if (!buildWorld(trackFile, &digest)) {
        std::fputs("Cant't load the track.\n", stderr);
        return 1;
    }
    if (isReplay) {
        if (replay.digest != digest) {
            std::fprintf(stderr, "velto-sim: %s is a replay of another track or another version of it (%s)\n",
                         keysFile.c_str(), escapedTrackName(replay.trackName).c_str());
            freeWorld();
            return 4;
        }
        // The ride is checked to its recorded end: a run that ends sooner,
        // or is still running there when it should have ended, fails.
        if (!haveSteps) {
            maxSteps = std::max<int32_t>(replay.steps, 1);
        }
    }

    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    // The run's own keys, as changes, for --record.
    Replay record;
    record.trackName = fileNameOf(trackFile);
    record.digest = digest;
    SimObserver observer(trace, stepDigests, haveRecord ? &record : nullptr);
    const RideEnd end = rideKeys(changes, maxSteps, &observer);
    const int32_t result = end.result;
    const RunDigest& runDigest = observer.digest;

    const int32_t steps = stepCount.load();
    if (digestOnly) {
        std::printf("%016llx\n", static_cast<unsigned long long>(runDigest.value()));
    } else {
        std::printf("result: %s steps: %d time: %s\n", replayResultName(result), steps,
                    formatRunTime(runTimeOfSteps(steps)).c_str());
    }
    std::fflush(stdout);
    freeWorld();
    if (std::ferror(stdout)) {
        std::fputs("velto-sim: cannot write the output\n", stderr);
        return 3;
    }
    if (haveRecord) {
        record.result = result;
        record.steps = steps;
        if (!writeReplayFile(recordFile, record)) {
            std::fprintf(stderr, "velto-sim: cannot write the replay '%s'\n", recordFile.c_str());
            return 3;
        }
    }
    if (isReplay) {
        const std::string mismatch = rideMismatch(replay, end);
        if (!mismatch.empty()) {
            std::fprintf(stderr, "velto-sim: %s: %s\n", keysFile.c_str(), mismatch.c_str());
            return 4;
        }
    }
    return 0;
}
