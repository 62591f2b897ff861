// velto-trackgen OUTDIR: writes the shipped track pack into OUTDIR, one
// ".vlt" file per track, after checking every design.
#include "Tracks.h"

#include <cstdio>
#include <filesystem>

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
        if (!writeDesign(design, path)) {
            std::fprintf(stderr, "%s: cannot write %s\n", design.name.c_str(), path.c_str());
            status = 1;
        }
    }
    return status;
}
