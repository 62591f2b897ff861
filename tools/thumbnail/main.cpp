// velto-thumbnail TRACK OUT.ppm: opens the game mode on a track, draws one
// picture of it with the game's own textures and drawing code, and writes it
// as a binary PPM. The picture has three panels: the whole track across the
// top, the start's surroundings below left and the finish's below right.
// Run it from the build folder (the textures are read from "textures/"),
// with a display (tools/with-display.sh).
#include "game/Game.h"
#include "game/GameWindow.h"
#include "gfx/Tessellator.h"
#include "model/Apple.h"
#include "model/Globals.h"
#include "physics/World.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 300;
constexpr int kWholeHeight = 160;          // the top panel
constexpr double kCloseZoom = 0.28;        // pixels per world unit in the lower panels

std::string outputPath;
bool written = false;
bool writeFailed = false;

struct Box {
    double left = 1e30, bottom = 1e30, right = -1e30, top = -1e30;
    void add(double x, double y)
    {
        left = std::min(left, x);
        right = std::max(right, x);
        bottom = std::min(bottom, y);
        top = std::max(top, y);
    }
};

// The world around (cx, cy) at `zoom` in the panel at (x, y), size w by h
// pixels, over the sky.
void drawPanel(int x, int y, int w, int h, double cx, double cy, double zoom)
{
    glViewport(x, y, w, h);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-w / 2.0, w / 2.0, -h / 2.0, h / 2.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    if (skyTexture != nullptr) {
        skyTexture->Bind();
    }
    glBegin(GL_QUADS);
    glTexCoord2d(0.0, 0.0);
    glVertex2d(-w / 2.0, -h / 2.0);
    glTexCoord2d(1.0, 0.0);
    glVertex2d(w / 2.0, -h / 2.0);
    glTexCoord2d(1.0, 1.0);
    glVertex2d(w / 2.0, h / 2.0);
    glTexCoord2d(0.0, 1.0);
    glVertex2d(-w / 2.0, h / 2.0);
    glEnd();

    glScaled(zoom, zoom, 1.0);
    glTranslated(-cx, -cy, 0.0);
    if (groundTexture != nullptr) {
        groundTexture->Bind();
        textureRepeat = groundTexture->Width();
    }
    Cpolygons::drawPolygons(trackPolygons, groundList);
    if (wheelTexture != nullptr) {
        wheelTexture->Bind();
    }
    shownMoto->drawWheels();
    if (springTexture != nullptr) {
        springTexture->Bind();
    }
    shownMoto->drawSprings();
    if (bikeTexture != nullptr) {
        bikeTexture->Bind();
    }
    shownMoto->drawFrame();
    if (appleTexture != nullptr) {
        appleTexture->Bind();
    }
    drawApples(trackApples, true);
    if (finishTexture != nullptr) {
        finishTexture->Bind();
    }
    finishBall->drawBall();
    glDisable(GL_TEXTURE_2D);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void drawThumbnail()
{
    if (written) {
        return;
    }
    Box box;
    for (const Cpolygons* node = trackPolygons; node != nullptr; node = node->next) {
        for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
            box.add(v->x, v->y);
        }
    }
    box.add(startPosition->x, startPosition->y);
    box.add(finishBall->position.x, finishBall->position.y);
    const double zoom = 0.95 * std::min(kWidth / (box.right - box.left), kWholeHeight / (box.top - box.bottom));

    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    const int lower = kHeight - kWholeHeight - 2;
    drawPanel(0, lower + 2, kWidth, kWholeHeight, (box.left + box.right) / 2.0, (box.bottom + box.top) / 2.0, zoom);
    drawPanel(0, 0, kWidth / 2 - 1, lower, startPosition->x, startPosition->y, kCloseZoom);
    drawPanel(kWidth / 2 + 1, 0, kWidth / 2 - 1, lower, finishBall->position.x, finishBall->position.y, kCloseZoom);
    glViewport(0, 0, viewWidth.load(), viewHeight.load());

    std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    std::FILE* out = std::fopen(outputPath.c_str(), "wb");
    bool ok = out != nullptr;
    if (ok) {
        std::fprintf(out, "P6\n%d %d\n255\n", kWidth, kHeight);
        // GL rows run from the bottom up, PPM rows from the top down.
        for (int row = kHeight - 1; row >= 0 && ok; --row) {
            ok = std::fwrite(pixels.data() + static_cast<size_t>(row) * kWidth * 3, 1, kWidth * 3, out) ==
                 static_cast<size_t>(kWidth) * 3;
        }
        ok = std::fclose(out) == 0 && ok;
    }
    writeFailed = !ok;
    written = true;
    closeRequested = true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: velto-thumbnail TRACK OUT.ppm\n");
        return 2;
    }
    trackPath = argv[1];
    outputPath = argv[2];
    gameMode = true;
    fullscreen = false;
    modeWidth = kWidth;
    modeHeight = kHeight;
    frameSceneDrawer = drawThumbnail;
    runGame();
    if (!written || writeFailed) {
        std::fprintf(stderr, "velto-thumbnail: no picture written to %s\n", outputPath.c_str());
        return 1;
    }
    return 0;
}
