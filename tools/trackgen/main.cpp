// velto-trackgen OUTDIR: writes the shipped track pack into OUTDIR, one
// ".vlt" file per track, after checking every design.
//
// A track whose file already holds the same track (everything but the best
// time) is left as it is, so that a rebuild keeps the best times of a player
// who plays from OUTDIR. A changed track replaces its file, with no best
// time: the old one was set on another track.
#include "Tracks.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velto-trackgen OUTDIR\n");
        return 2;
    }
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
            continue;
        }
        std::filesystem::rename(fresh, path, error);
        if (error) {
            std::fprintf(stderr, "%s: cannot write %s\n", design.name.c_str(), path.c_str());
            std::filesystem::remove(fresh, error);
            status = 1;
        }
    }
    return status;
}
