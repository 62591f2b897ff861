#include "game/Game.h"

#include "game/Coach.h"
#include "game/GameGhost.h"
#include "game/GameHub.h"
#include "game/GameReplay.h"
#include "game/GameSound.h"
#include "game/GameWindow.h"
#include "game/HudNotes.h"
#include "gfx/DisplayLists.h"
#include "gfx/Tessellator.h"
#include "gfx/Text.h"
#include "model/Globals.h"
#include "model/ParTimes.h"
#include "model/Replay.h"
#include "model/RunTime.h"
#include "model/TrackFile.h"
#include "model/TrackFolder.h"
#include "physics/World.h"
#include "platform/MessageBox.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>
#include <vector>

TGLBMP* wheelTexture = nullptr;
TGLBMP* appleTexture = nullptr;
TGLBMP* groundTexture = nullptr;
TGLBMP* skyTexture = nullptr;
TGLBMP* bikeTexture = nullptr;
TGLBMP* springTexture = nullptr;
TGLBMP* finishTexture = nullptr;
TGLBMP* borderTexture = nullptr;

unsigned int skyList = 0;
unsigned int groundList = 0;
unsigned int borderList = 0;
unsigned int barList = 0;

CameraCentre cameraCentre;

namespace {

// GL_CLAMP is not in every header set we build against.
constexpr unsigned int kWrapClamp = 0x2900;
constexpr unsigned int kWrapRepeat = 0x2901;

void setProjection()
{
    const double w = viewWidth.load();
    const double h = viewHeight.load();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-w / 2.0, w / 2.0, -h / 2.0, h / 2.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// v minus its integer part (truncated toward zero).
double frac(double v)
{
    return v - std::trunc(v);
}

void bindTexture(TGLBMP* texture)
{
    if (texture != nullptr) {
        texture->Bind();
    }
}

int widthOf(const TGLBMP* texture)
{
    return texture != nullptr ? texture->Width() : 1;
}

} // namespace

bool initGame()
{
    // The run clock's text pattern is fixed in formatRunTime.
    createTessellator();
    deleteGameLists();
    bool ok = setupWorld();
    if (ok) {
        ok = loadTextureSet();
    }
    setProjection();
    return ok;
}

void doneGame()
{
    freeWorld();
    freeTextureSet();
    deleteGameLists();
    deleteTessellator();
}

bool setupWorld()
{
    // The ghost is ridden first, in the world it then leaves to the run.
    prepareGhost();
    hubRunStarting();
    uint64_t digest = 0;
    if (!buildWorld(trackPath, &digest)) {
        messageBox("Cant't load the track.", "Error", MB_ICONEXCLAMATION);
        return false;
    }
    beginRun(digest);
    // A pack track is one the folder's par index names with this digest.
    const bool packTrack =
        !testRideActive && ParTimes::readFolder(folderOf(trackPath)).parFor(fileNameOf(trackPath), digest) > 0;
    coach.beginRun(!testRideActive && coachWanted(fileNameOf(trackPath), packTrack, std::getenv("VELTO_COACH")));
    noteRunStart(testRideActive ? std::string("Test ride") : trackNameOf(trackPath));
    if (startPosition != nullptr) {
        cameraCentre.x = startPosition->x;
        cameraCentre.y = startPosition->y;
    }
    viewWidth = modeWidth;
    viewHeight = modeHeight;
    soundRunStarted();
    return true;
}

std::string trackNameOf(const std::string& path)
{
    const std::string name = fileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && dot > 0 ? name.substr(0, dot) : name;
}

void switchTrack(const std::string& path)
{
    trackPath = path;
    deletePolygonTiles(groundList);
}

bool writeBestTime(double time)
{
    if (rewriteBestTime(trackPath, time)) {
        return true;
    }
    messageBox("The best time could not be written to the track file.", "Error",
               MB_ICONEXCLAMATION);
    return false;
}

std::string applesLeftText(int count)
{
    if (count == 0) {
        return "no apples left";
    }
    if (count == 1) {
        return "1 apple left";
    }
    return std::to_string(count) + " apples left";
}

void drawScene()
{
    const double w = viewWidth.load();
    const double h = viewHeight.load();

    cameraCentre.x = shownMoto->position.x - w * cameraLead.load();
    cameraCentre.y = shownMoto->position.y;

    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    bindTexture(skyTexture);
    if (skyList == 0) {
        skyList = glGenLists(1);
        glNewList(skyList, GL_COMPILE);
        glBegin(GL_QUADS);
        glTexCoord2d(0.0, 0.0);
        glVertex2d(-w, -h / 2.0);
        glTexCoord2d(2.0, 0.0);
        glVertex2d(w, -h / 2.0);
        glTexCoord2d(2.0, 1.0);
        glVertex2d(w, h / 2.0);
        glTexCoord2d(0.0, 1.0);
        glVertex2d(-w, h / 2.0);
        glEnd();
        glEndList();
    }
    // The sky moves at half the camera's speed and wraps every two widths.
    const double u = 0.5 * cameraCentre.x / w + 0.5;
    const double t = frac(frac(u) + 1.0);
    glPushMatrix();
    glTranslated((t - 0.5) * (-w), 0.0, 0.0);
    glCallList(skyList);
    glPopMatrix();

    glPushMatrix();
    glTranslated(-cameraCentre.x, -cameraCentre.y, 0.0);
    bindTexture(borderTexture);
    textureRepeat = widthOf(borderTexture);
    Cpolygons::drawPolygons(borderPolygons, borderList);
    bindTexture(groundTexture);
    textureRepeat = widthOf(groundTexture);
    // Only the ground's tiles that the view shows (plus a unit around it).
    drawPolygonsInView(trackPolygons, groundList, cameraCentre.x - w / 2.0 - 1.0, cameraCentre.x + w / 2.0 + 1.0,
                       cameraCentre.y - h / 2.0 - 1.0, cameraCentre.y + h / 2.0 + 1.0);
    // The ghost does not ride beside the very ride being watched.
    const bool watchingGhostsRide =
        replayDriving.load() && (watchedSource() == WatchSource::Demo) == ghostIsDemo() &&
        watchedSource() != WatchSource::LastRun;
    drawGhost(stepCount.load(), !watchingGhostsRide);
    bindTexture(wheelTexture);
    shownMoto->drawWheels();
    bindTexture(springTexture);
    shownMoto->drawSprings();
    bindTexture(bikeTexture);
    shownMoto->drawFrame();
    bindTexture(appleTexture);
    // Only the apples whose squares reach into the view, in list order.
    static std::vector<Cvector> shownApples;
    applesInBox(cameraCentre.x - w / 2.0 - kAppleRadius - 1.0, cameraCentre.x + w / 2.0 + kAppleRadius + 1.0,
                cameraCentre.y - h / 2.0 - kAppleRadius - 1.0, cameraCentre.y + h / 2.0 + kAppleRadius + 1.0,
                shownApples);
    for (const Cvector& apple : shownApples) {
        drawTexturedApple(apple);
    }
    bindTexture(finishTexture);
    finishBall->drawBall();
    glDisable(GL_TEXTURE_2D);
    glPopMatrix();

    if (barList == 0) {
        barList = glGenLists(1);
        glNewList(barList, GL_COMPILE);
        glColor4f(0.5f, 0.5f, 0.5f, 0.3f);
        glBegin(GL_QUADS);
        glVertex2d(-w / 2.0, h / 2.0 - 30.0);
        glVertex2d(w / 2.0, h / 2.0 - 30.0);
        glVertex2d(w / 2.0, h / 2.0);
        glVertex2d(-w / 2.0, h / 2.0);
        glEnd();
        glEndList();
    }
    glCallList(barList);

    glColor4f(1.0f, 0.0f, 0.0f, 0.6f);
    printText(applesLeftText(applesLeft), true, 0.0, h / 2.0 - 20.0, 20.0);
}

bool loadGameTexture(TGLBMP*& texture, const std::string& imageFile, const std::string& alphaFile,
                     unsigned int wrap)
{
    texture = new TGLBMP();
    if (!texture->LoadImageFile(imageFile)) {
        messageBox("Image loading error. (" + imageFile + ")", "Error", MB_ICONEXCLAMATION);
        return false;
    }
    if (!alphaFile.empty() && !texture->LoadAlphaImage(alphaFile)) {
        messageBox("Alpha image loading error. (" + alphaFile + ")", "Error", MB_ICONEXCLAMATION);
        return false;
    }
    texture->SetWrap(wrap, wrap);
    texture->BuildTexture();
    return true;
}

bool loadTextureSet()
{
    struct Row {
        TGLBMP*& texture;
        const char* image;
        const char* alpha;
        unsigned int wrap;
    };
    const Row rows[] = {
        {wheelTexture, "textures/kolo.jpg", "textures/kolo_alpha.jpg", kWrapClamp},
        {appleTexture, "textures/apple.jpg", "textures/apple_alpha.jpg", kWrapClamp},
        {groundTexture, "textures/ground.jpg", "", kWrapRepeat},
        {skyTexture, "textures/sky.jpg", "", kWrapRepeat},
        {bikeTexture, "textures/bike.jpg", "textures/bike_alpha.jpg", kWrapClamp},
        {springTexture, "textures/spring.jpg", "textures/spring_alpha.jpg", kWrapClamp},
        {finishTexture, "textures/finish.jpg", "textures/finish_alpha.jpg", kWrapClamp},
        {borderTexture, "textures/border.bmp", "", kWrapRepeat},
    };
    for (const Row& row : rows) {
        row.texture = nullptr;
    }
    for (const Row& row : rows) {
        if (!loadGameTexture(row.texture, row.image, row.alpha, row.wrap)) {
            return false;
        }
    }
    return true;
}

void freeTextureSet()
{
    // Each reference is cleared as well: a later game mode whose track fails
    // to load never reaches loadTextureSet, and its doneGame must not free
    // these textures a second time.
    for (TGLBMP** texture : {&wheelTexture, &appleTexture, &groundTexture, &skyTexture,
                             &bikeTexture, &springTexture, &finishTexture, &borderTexture}) {
        delete *texture;
        *texture = nullptr;
    }
}

void deleteGameLists()
{
    deletePolygonTiles(groundList);
    for (unsigned int* list : {&ballList, &groundList, &appleList, &skyList, &frameList,
                               &springList, &borderList, &barList}) {
        if (*list != 0) {
            glDeleteLists(*list, 1);
        }
    }
    for (unsigned int* list : {&ballList, &groundList, &appleList, &skyList, &frameList,
                               &springList, &borderList, &barList}) {
        *list = 0;
    }
}
