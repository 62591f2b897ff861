// velto-trackgen OUTDIR [--proofs REPLAYDIR]: writes the shipped track pack
// into OUTDIR, one ".vlt" file per track, after checking every design. With
// REPLAYDIR (the pack's proof runs, NAME.replay) it also writes the par
// index OUTDIR/par-times.txt (model/ParTimes.h): each track's par is its
// proof run's time rounded up to a whole second, and ships each proof run
// beside its track as OUTDIR/NAME.demo, the track's demo. A proof run that does not
// finish the track as written gives it no par, and fails the run.
//
// A track whose file already holds the same track (everything but the best
// time) is left as it is, so that a rebuild keeps the best times of a player
// who plays from OUTDIR. A changed track replaces its file, with no best
// time: the old one was set on another track.
//
// velto-trackgen --big EDGES SEED FILE: writes a generated big track of
// EDGES edges (for tests and benchmarks; not part of the pack) to FILE.
// velto-trackgen --tangle VERTICES SEED FILE: the first track with a polygon
// of VERTICES random points about the start.
// velto-trackgen --apples COUNT SEED FILE: the first track with COUNT more
// apples over the world.
// velto-trackgen --far EDGES SEED FILE: the first track with EDGES long edges
// far below the ride (EDGES 0 gives the first track alone, for comparison).
#include "Tracks.h"

#include "model/ParTimes.h"
#include "model/Replay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything past the best time.
bool sameTrack(const std::string& a, const std::string& b)
{
    return a.size() >= 8 && a.size() == b.size() && a.compare(8, std::string::npos, b, 8, std::string::npos) == 0;
}

int writeBig(const std::string& kind, const std::string& edgesText, const std::string& seedText,
             const std::string& path)
{
    char* end = nullptr;
    const long edges = std::strtol(edgesText.c_str(), &end, 10);
    const long least = kind == "--big" ? 16 : kind == "--far" ? 0 : 3;
    if (*end != '\0' || edges < least || edges > 50000000) {
        std::fprintf(stderr, "velto-trackgen: %s must be a whole number from %ld to 50000000\n",
                     kind == "--big" || kind == "--far" ? "EDGES" : kind == "--tangle" ? "VERTICES" : "COUNT", least);
        return 2;
    }
    const unsigned long seed = std::strtoul(seedText.c_str(), &end, 10);
    if (*end != '\0' || seedText.empty() || seed > 0xFFFFFFFFul) {
        std::fprintf(stderr, "velto-trackgen: SEED must be a whole number below 2^32\n");
        return 2;
    }
    const int size = static_cast<int>(edges);
    const uint32_t seed32 = static_cast<uint32_t>(seed);
    const TrackDesign design = kind == "--big"      ? bigTrack(size, seed32)
                               : kind == "--tangle" ? tangledTrack(size, seed32)
                               : kind == "--far"    ? farEdgesTrack(size, seed32)
                                                    : appleTrack(size, seed32);
    int status = 0;
    // A tangle meets itself by design; its vertices may touch the bike.
    for (const std::string& problem : kind == "--tangle" ? std::vector<std::string>() : checkDesign(design)) {
        std::fprintf(stderr, "%s: %s\n", design.name.c_str(), problem.c_str());
        status = 1;
    }
    if (!writeDesign(design, path)) {
        std::fprintf(stderr, "velto-trackgen: cannot write %s\n", path.c_str());
        status = 1;
    }
    return status;
}

// The par of a track from its proof run: the run's time, rounded up to a
// whole second.
int32_t parOfProof(int32_t steps)
{
    return (steps + 99) / 100 * 100;
}

// A pack track that was renumbered leaves its old file behind: a track file
// of OUTDIR that the pack does not name but whose track is one of the pack's
// goes, its best time and best run passed to the new name when that has none.
void retireRenamedTracks(const std::filesystem::path& dir, const std::vector<std::string>& packNames)
{
    std::error_code error;
    for (std::filesystem::directory_iterator it(dir, error); !error && it != std::filesystem::directory_iterator();
         it.increment(error)) {
        const std::filesystem::path old = it->path();
        const std::string name = old.filename().string();
        if (old.extension() != ".vlt" ||
            std::find(packNames.begin(), packNames.end(), name) != packNames.end()) {
            continue;
        }
        const std::string oldTrack = contents(old.string());
        for (const std::string& packName : packNames) {
            const std::filesystem::path current = dir / packName;
            std::string fresh = contents(current.string());
            if (!sameTrack(oldTrack, fresh)) {
                continue;
            }
            std::error_code ignored;
            double best = -1.0;
            std::memcpy(&best, fresh.data(), sizeof best);
            if (best == -1.0) {
                fresh.replace(0, 8, oldTrack, 0, 8);
                std::ofstream(current, std::ios::binary | std::ios::trunc) << fresh;
                const std::filesystem::path oldRun = std::filesystem::path(old).replace_extension(".replay");
                const std::filesystem::path newRun = std::filesystem::path(current).replace_extension(".replay");
                if (std::filesystem::exists(oldRun) && !std::filesystem::exists(newRun)) {
                    std::filesystem::rename(oldRun, newRun, ignored);
                }
            }
            std::filesystem::remove(old, ignored);
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && (std::string(argv[1]) == "--big" || std::string(argv[1]) == "--tangle" ||
                      std::string(argv[1]) == "--apples" || std::string(argv[1]) == "--far")) {
        return writeBig(argv[1], argv[2], argv[3], argv[4]);
    }
    const bool withPars = argc == 4 && std::string(argv[2]) == "--proofs";
    if (argc != 2 && !withPars) {
        std::fprintf(stderr, "usage: velto-trackgen OUTDIR [--proofs REPLAYDIR]\n"
                             "       velto-trackgen --big EDGES SEED FILE\n"
                             "       velto-trackgen --tangle VERTICES SEED FILE\n"
                             "       velto-trackgen --apples COUNT SEED FILE\n"
                             "       velto-trackgen --far EDGES SEED FILE\n");
        return 2;
    }
    std::vector<ParTime> pars;
    const std::filesystem::path dir(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    int status = 0;
    for (const TrackDesign& design : trackPack()) {
        for (const std::string& problem : checkDesign(design)) {
            std::fprintf(stderr, "%s: %s\n", design.name.c_str(), problem.c_str());
            status = 1;
        }
        const std::string path = (dir / (design.name + ".vlt")).string();
        const std::string fresh = path + ".new";
        if (!writeDesign(design, fresh)) {
            std::fprintf(stderr, "%s: cannot write %s\n", design.name.c_str(), fresh.c_str());
            std::filesystem::remove(fresh, error);
            status = 1;
            continue;
        }
        if (sameTrack(contents(fresh), contents(path))) {
            std::filesystem::remove(fresh, error);
        } else {
            std::filesystem::rename(fresh, path, error);
            if (error) {
                std::fprintf(stderr, "%s: cannot write %s\n", design.name.c_str(), path.c_str());
                std::filesystem::remove(fresh, error);
                status = 1;
                continue;
            }
        }
        if (withPars) {
            const std::string proof = (std::filesystem::path(argv[3]) / (design.name + ".replay")).string();
            Replay replay;
            std::string problem;
            uint64_t digest = 0;
            if (readReplayFile(proof, replay, problem) != ReplayReadError::None) {
                std::fprintf(stderr, "%s: no par: %s\n", design.name.c_str(), problem.c_str());
                status = 1;
            } else if (!trackDigest(path, digest) || replay.digest != digest || replay.result != ReplayFinished) {
                std::fprintf(stderr, "%s: no par: the proof run does not finish this track\n", design.name.c_str());
                status = 1;
            } else {
                pars.push_back(ParTime{design.name + ".vlt", digest, parOfProof(replay.steps)});
                // The proof run ships beside its track as the track's demo.
                const std::string demo = demoReplayPath(path);
                if (contents(demo) != formatReplay(replay) && !writeReplayFile(demo, replay)) {
                    std::fprintf(stderr, "%s: cannot write %s\n", design.name.c_str(), demo.c_str());
                    status = 1;
                }
            }
        }
    }
    std::vector<std::string> packNames;
    for (const TrackDesign& design : trackPack()) {
        packNames.push_back(design.name + ".vlt");
    }
    retireRenamedTracks(dir, packNames);
    if (withPars) {
        const std::string index = (dir / kParFileName).string();
        if (contents(index) != formatParTimes(pars) && !writeParTimes(index, pars)) {
            std::fprintf(stderr, "velto-trackgen: cannot write %s\n", index.c_str());
            status = 1;
        }
    }
    return status;
}
