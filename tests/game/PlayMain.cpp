// velto-play TRACK [--fps] [--size WxH] [--fullscreen] [--time-frames N]:
// runs one game mode on a track with the settings given, for development and
// measurements, until the start-up dialog hands over to the game. Run it from
// the build folder (the textures are read from "textures/").
//
// --time-frames N prints on stderr how long the mode took from its start to
// the first frame presented, and the mean time of the N frames after it,
// then ends the program.
#include "game/Game.h"
#include "game/GameWindow.h"
#include "model/Globals.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

int timedFrames = 0;
Clock::time_point modeStart;
Clock::time_point firstShown;
int framesDrawn = 0;

double millisecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Each frame starts with the scene: the start of frame k + 1 is the end of
// frame k, presented.
void timedScene()
{
    if (framesDrawn == 1) {
        std::fprintf(stderr, "start to first frame: %.1f ms\n", millisecondsSince(modeStart));
        firstShown = Clock::now();
    } else if (framesDrawn == timedFrames + 1) {
        const double ms = millisecondsSince(firstShown);
        std::fprintf(stderr, "%d frames: %.2f ms each, %.1f fps\n", timedFrames, ms / timedFrames,
                     1000.0 * timedFrames / ms);
        std::_Exit(0);
    }
    ++framesDrawn;
    drawScene();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: velto-play TRACK [--fps] [--size WxH] [--fullscreen] [--time-frames N]\n");
        return 2;
    }
    trackPath = argv[1];
    gameMode = true;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fps") == 0) {
            showFPS = true;
        } else if (std::strcmp(argv[i], "--fullscreen") == 0) {
            fullscreen = true;
        } else if (std::strcmp(argv[i], "--time-frames") == 0 && i + 1 < argc) {
            timedFrames = std::atoi(argv[++i]);
            if (timedFrames <= 0) {
                std::fprintf(stderr, "velto-play: bad frame count %s\n", argv[i]);
                return 2;
            }
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            int w = 0;
            int h = 0;
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) {
                std::fprintf(stderr, "velto-play: bad size %s\n", argv[i]);
                return 2;
            }
            modeWidth = w;
            modeHeight = h;
        } else {
            std::fprintf(stderr, "velto-play: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (timedFrames > 0) {
        frameSceneDrawer = timedScene;
        modeStart = Clock::now();
    }
    runGame();
    return 0;
}
