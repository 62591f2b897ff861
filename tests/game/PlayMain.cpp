// velto-play TRACK [--fps] [--size WxH] [--fullscreen]: runs one game mode on
// a track with the settings given, for development and measurements, until
// the start-up dialog hands over to the game. Run it from the build folder
// (the textures are read from "textures/").
#include "game/GameWindow.h"
#include "model/Globals.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: velto-play TRACK [--fps] [--size WxH] [--fullscreen]\n");
        return 2;
    }
    trackPath = argv[1];
    gameMode = true;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fps") == 0) {
            showFPS = true;
        } else if (std::strcmp(argv[i], "--fullscreen") == 0) {
            fullscreen = true;
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
    runGame();
    return 0;
}
