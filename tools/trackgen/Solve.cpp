// velto-tracksolve: proof runs for the tracks of the pack.
//
//   velto-tracksolve OUTDIR [NAME...]
//       finds, for each track (or the ones named), a run a person could ride
//       (ProofRun.h) with nine rider settings, keeps the one that
//       tolerates most shift, polishes its timing, and writes it as the replay OUTDIR/NAME.replay.
//   velto-tracksolve [--segment S] [--style I] [--shift S] OUTDIR [NAME...]
//       the same with only the settings that hold keys S steps (10, 20, 30),
//       only the style I (0 to 2: cheap changes, dear changes, shifted copies
//       along), and copies and polish shifted by up to S steps (default 2).
//   velto-tracksolve [--shift S] --polish REPLAYDIR [NAME...]
//       polishes the timing of the replays REPLAYDIR/NAME.replay in place,
//       judged by the shift share at S steps (default 2; 5 is a person's
//       timing).
//   velto-tracksolve [--shift S] --harden REPLAYDIR [NAME...]
//       the same with more moves (shift by 1 to 16 steps, drop a change,
//       change its keys), judged by how far shifted rides get; the replay
//       may be of an earlier version of the track, and is written for this one.
//   velto-tracksolve --measure REPLAYDIR [NAME...]
//       rides the replays REPLAYDIR/NAME.replay and prints, per track, its
//       edges, proof time, key changes a second and shift shares: every key
//       change moved by up to 2 steps, by up to 3, and by up to 5 steps (a
//       person's timing, the pack's difficulty).
//
// A development tool: the replays it writes are checked in as
// tests/data/tracks/NAME.replay. Exit status 1 when a track has no run.
#include "ProofRun.h"
#include "Tracks.h"

#include "physics/World.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdlib.h>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

size_t edgesOf(const TrackDesign& design)
{
    size_t edges = 0;
    for (const auto& polygon : design.polygons) {
        edges += polygon.size();
    }
    return edges;
}

void printLine(const TrackDesign& design, const Replay& replay, double share, double middleShare = -1.0,
               double personShare = -1.0)
{
    int changes = 0;
    for (size_t i = 1; i < replay.changes.size(); ++i) {
        changes += replay.changes[i].keys != replay.changes[i - 1].keys ? 1 : 0;
    }
    const double seconds = replay.steps * kStepSeconds;
    std::printf("%-24s edges %5zu  time %6.2f s  changes/s %4.2f  shift share +-2: %3.0f %%", design.name.c_str(),
                edgesOf(design), seconds, seconds > 0.0 ? changes / seconds : 0.0, share * 100.0);
    if (middleShare >= 0.0) {
        std::printf("  +-3: %3.0f %%", middleShare * 100.0);
    }
    if (personShare >= 0.0) {
        std::printf("  +-5: %3.0f %%", personShare * 100.0);
    }
    std::printf("\n");
    std::fflush(stdout);
}

bool routeTurns(const TrackDesign& design)
{
    for (size_t i = 1; i + 1 < design.route.size(); ++i) {
        if ((design.route[i].x - design.route[i - 1].x) * (design.route[i + 1].x - design.route[i].x) < 0.0) {
            return true;
        }
    }
    return false;
}

bool wanted(const TrackDesign& design, int argc, char** argv, int first)
{
    if (argc == first) {
        return true;
    }
    for (int i = first; i < argc; ++i) {
        if (design.name == argv[i]) {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // --segment S (first): only the rider settings with keys held S steps.
    int onlySegment = 0;
    if (argc >= 3 && std::strcmp(argv[1], "--segment") == 0) {
        onlySegment = std::atoi(argv[2]);
        argv += 2;
        argc -= 2;
    }
    // --style I: only the rider style I.
    int onlyStyle = -1;
    if (argc >= 3 && std::strcmp(argv[1], "--style") == 0) {
        onlyStyle = std::atoi(argv[2]);
        argv += 2;
        argc -= 2;
    }
    // --shift S: the polish judges the shift share at S steps.
    int polishShift = kMaxShift;
    if (argc >= 3 && std::strcmp(argv[1], "--shift") == 0) {
        polishShift = std::atoi(argv[2]);
        if (polishShift < 1 || polishShift > 50) {
            std::fprintf(stderr, "velto-tracksolve: --shift takes 1 to 50 steps\n");
            return 2;
        }
        argv += 2;
        argc -= 2;
    }
    const bool measure = argc >= 2 && std::strcmp(argv[1], "--measure") == 0;
    const bool harden = argc >= 2 && std::strcmp(argv[1], "--harden") == 0;
    const bool polish = harden || (argc >= 2 && std::strcmp(argv[1], "--polish") == 0);
    const int dirArg = measure || polish ? 2 : 1;
    if (argc <= dirArg) {
        std::fprintf(stderr, "usage: velto-tracksolve OUTDIR [NAME...]\n"
                             "       velto-tracksolve --polish REPLAYDIR [NAME...]\n"
                             "       velto-tracksolve --measure REPLAYDIR [NAME...]\n");
        return 2;
    }
    const fs::path dir(argv[dirArg]);
    if (!measure) {
        std::error_code error;
        fs::create_directories(dir, error);
    }
    // A folder of this run's own for the track files, since several runs
    // may go on at once.
    std::string scratch = (fs::temp_directory_path() / "velto-tracksolve-XXXXXX").string();
    if (mkdtemp(scratch.data()) == nullptr) {
        std::fprintf(stderr, "velto-tracksolve: cannot make a scratch folder\n");
        return 1;
    }
    int status = 0;
    for (const TrackDesign& design : trackPack()) {
        if (!wanted(design, argc, argv, dirArg + 1)) {
            continue;
        }
        const std::string trackFile = (fs::path(scratch) / (design.name + ".vlt")).string();
        writeDesign(design, trackFile);
        const std::string replayFile = (dir / (design.name + ".replay")).string();
        if (measure || polish) {
            Replay replay;
            std::string error;
            if (readReplayFile(replayFile, replay, error) != ReplayReadError::None) {
                std::fprintf(stderr, "%s: %s\n", replayFile.c_str(), error.c_str());
                status = 1;
            } else {
                bool changed = harden ? hardenProofRun(trackFile, replay, polishShift, 4, routeTurns(design))
                                      : polish && polishProofRun(trackFile, replay, 3, polishShift);
                if (harden) {
                    // The run may come from another version of the track.
                    const RideResult ride = rideChanges(trackFile, replay.changes, replay.steps + 500);
                    uint64_t digest = 0;
                    if (ride.result == StepFinished && trackDigest(trackFile, digest) &&
                        (digest != replay.digest || ride.steps != replay.steps)) {
                        replay.digest = digest;
                        replay.steps = ride.steps;
                        replay.result = ReplayFinished;
                        changed = true;
                    }
                }
                if (changed && !writeReplayFile(replayFile, replay)) {
                    std::fprintf(stderr, "%s: cannot write %s\n", design.name.c_str(), replayFile.c_str());
                    status = 1;
                }
                printLine(design, replay, shiftShare(trackFile, replay), shiftShare(trackFile, replay, 12345u, kMiddleShift),
                          shiftShare(trackFile, replay, 12345u, kPersonShift));
                const std::string breach = keyRuleBreach(replay.changes, replay.steps);
                if (!breach.empty()) {
                    std::printf("%-24s breaks a key rule: %s\n", design.name.c_str(), breach.c_str());
                }
            }
        } else {
            Replay best;
            double bestShare = -1.0;
            // Rider settings: how often keys may change, how dear a change
            // is, and whether shifted copies ride along.
            const struct {
                double changeCost;
                int copies;
            } styles[] = {{30.0, 0}, {150.0, 0}, {30.0, 4}};
            for (int segment : {10, 20, 30}) {
                if (onlySegment != 0 && segment != onlySegment) {
                    continue;
                }
                for (int index = 0; index < 3; ++index) {
                    if (onlyStyle >= 0 && index != onlyStyle) {
                        continue;
                    }
                    const auto& style = styles[index];
                    RiderSettings settings;
                    settings.segment = segment;
                    settings.changeCost = style.changeCost;
                    settings.shiftedCopies = style.copies;
                    settings.shift = polishShift;
                    Replay replay;
                    if (!findProofRun(design, trackFile, settings, replay)) {
                        std::fprintf(stderr, "%s: segment %d, change cost %.0f, copies %d: no run\n",
                                     design.name.c_str(), segment, style.changeCost, style.copies);
                        continue;
                    }
                    const double share = shiftShare(trackFile, replay);
                    std::fprintf(stderr, "%s: segment %d, change cost %.0f, copies %d: %.2f s, share %.0f %%\n",
                                 design.name.c_str(), segment, style.changeCost, style.copies,
                                 replay.steps * kStepSeconds, share * 100.0);
                    if (share > bestShare || (share == bestShare && replay.steps < best.steps)) {
                        best = replay;
                        bestShare = share;
                    }
                }
            }
            if (bestShare >= 0.0 && polishProofRun(trackFile, best, 3, polishShift)) {
                bestShare = shiftShare(trackFile, best);
                std::fprintf(stderr, "%s: polished: %.2f s, share %.0f %%\n", design.name.c_str(),
                             best.steps * kStepSeconds, bestShare * 100.0);
            }
            if (bestShare < 0.0) {
                std::fprintf(stderr, "%s: no way to the finish found\n", design.name.c_str());
                status = 1;
            } else if (!writeReplayFile(replayFile, best)) {
                std::fprintf(stderr, "%s: cannot write %s\n", design.name.c_str(), replayFile.c_str());
                status = 1;
            } else {
                printLine(design, best, bestShare);
            }
        }
        fs::remove(trackFile);
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return status;
}
