// velto-editor-frames TRACK [N]: opens the editor on a track (800 x 600, the
// window maximised as usual) and prints on stderr how long it took from the
// start of the mode to the first frame drawn, and the mean and longest of
// the next N frames (default 40), then ends the program. For measurements;
// run it under tools/with-display.sh from the build folder.
#include "editor/EditorWindow.h"
#include "model/Globals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: velto-editor-frames TRACK [N]\n");
        return 2;
    }
    trackPath = argv[1];
    gameMode = false;
    modeWidth = 800;
    modeHeight = 600;
    const int frames = argc == 3 ? std::atoi(argv[2]) : 40;
    if (frames <= 0) {
        std::fprintf(stderr, "velto-editor-frames: bad frame count %s\n", argv[2]);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point last = start;
    int drawn = 0;
    double total = 0.0;
    double longest = 0.0;
    setEditorFrameHook([&]() {
        const Clock::time_point now = Clock::now();
        const double ms = std::chrono::duration<double, std::milli>(now - last).count();
        last = now;
        if (drawn == 0) {
            std::fprintf(stderr, "start to first frame: %.1f ms\n", ms);
        } else {
            total += ms;
            longest = std::max(longest, ms);
        }
        if (++drawn > frames) {
            std::fprintf(stderr, "%d frames: mean %.1f ms, longest %.1f ms\n", frames, total / frames, longest);
            std::_Exit(0);
        }
    });
    runEditor();
    return 0;
}
