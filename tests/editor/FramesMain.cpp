// velto-editor-frames TRACK [N] [idle|draw|move|zoom]: opens the editor on a
// track (800 x 600, the window maximised as usual) and prints on stderr how
// long it took from the start of the mode to the first frame drawn, and the
// mean and longest of N frames (default 40), then ends the program. For
// measurements; run it under tools/with-display.sh from the build folder.
//
// The N frames are timed after the help has faded (100 frames), with:
//   idle  nothing happening (the default);
//   draw  a polygon being drawn: a click, then the mouse moving every frame
//         and a vertex placed every tenth frame;
//   move  the active polygon dragged with M, the mouse moving every frame;
//   zoom  the view zoomed in and out by turns (keypad plus and minus), a
//         new view every second frame.
// Before the N frames the first frame alone, and the help's frames, are
// reported too.
#include "editor/EditorWindow.h"
#include "model/Globals.h"
#include "platform/EventInjection.h"
#include "platform/RenderWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kHelpFrames = 100;
constexpr int kSettleFrames = 10;

void act(const std::string& mode, int frame)
{
    const int x = 300 + (frame * 7) % 400;
    const int y = 250 + (frame * 3) % 200;
    if (mode == "draw") {
        injectMouseMove(x, y);
        if (frame == 0 || frame % 10 == 5) {
            injectMouseButton(1, true, x, y);
            injectMouseButton(1, false, x, y);
        }
    } else if (mode == "move") {
        if (frame == 0) {
            injectKey('M', true);
        }
        injectMouseMove(x, y);
    } else if (mode == "zoom") {
        // A key is seen when it is down at a frame: press in one, release
        // in the next.
        const int key = frame % 4 < 2 ? VK_ADD : VK_SUBTRACT;
        injectKey(key, frame % 2 == 0);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: velto-editor-frames TRACK [N] [idle|draw|move|zoom]\n");
        return 2;
    }
    trackPath = argv[1];
    gameMode = false;
    modeWidth = 800;
    modeHeight = 600;
    const int frames = argc >= 3 ? std::atoi(argv[2]) : 40;
    const std::string mode = argc == 4 ? argv[3] : "idle";
    if (frames <= 0 || (mode != "idle" && mode != "draw" && mode != "move" && mode != "zoom")) {
        std::fprintf(stderr, "velto-editor-frames: bad arguments\n");
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
        } else if (drawn <= kHelpFrames) {
            // The first frames see the window shown and maximised.
            if (drawn > kSettleFrames) {
                total += ms;
            }
            if (drawn == kHelpFrames) {
                std::fprintf(stderr, "frames %d to %d, the help fading: mean %.1f ms\n", kSettleFrames + 1,
                             kHelpFrames, total / (kHelpFrames - kSettleFrames));
                total = 0.0;
            }
        } else {
            total += ms;
            longest = std::max(longest, ms);
        }
        if (drawn >= kHelpFrames && drawn < kHelpFrames + frames) {
            act(mode, drawn - kHelpFrames);
        }
        if (++drawn > kHelpFrames + frames) {
            std::fprintf(stderr, "%d %s frames: mean %.1f ms, longest %.1f ms\n", frames, mode.c_str(),
                         total / frames, longest);
            std::_Exit(0);
        }
    });
    runEditor();
    return 0;
}
