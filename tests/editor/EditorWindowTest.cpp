// The whole editor under an X display, driven by injected mouse and key
// events as a player would drive it: one scripted action per frame, run
// from the frame hook, with the picture read back before each swap.
#include "EditorTestSupport.h"
#include "RealHub.h"
#include "app/HubPublish.h"
#include "editor/Publish.h"
#include "model/Replay.h"
#include "net/HubBrowse.h"
#include "net/HubService.h"
#include "net/HubTracks.h"
#include "physics/RunKeys.h"

#include "editor/DrawCache.h"
#include "editor/EditHistory.h"
#include "editor/Editor.h"
#include "editor/EditorWindow.h"
#include "game/GameWindow.h"
#include "model/Globals.h"
#include "physics/World.h"
#include "platform/Controllers.h"
#include "platform/EventInjection.h"
#include "platform/RenderWindow.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace editortest;

namespace {

struct Pixel {
    int x;
    int y;   // from the top, as the mouse counts
};

struct Rgb {
    int r, g, b;
};

Pixel toPixel(double x, double y)
{
    return {static_cast<int>(std::lround((x - viewCentre.x) * viewZoom + viewWidth / 2.0)),
            static_cast<int>(std::lround(viewHeight / 2.0 - (y - viewCentre.y) * viewZoom))};
}

// The world point the editor computes for the mouse at p.
Point toWorld(Pixel p)
{
    return {(p.x - viewWidth / 2.0) / viewZoom + viewCentre.x, (viewHeight / 2.0 - p.y) / viewZoom + viewCentre.y};
}

// Reads the back buffer (the frame hook runs before the swap).
std::vector<unsigned char> readPicture()
{
    const int w = viewWidth;
    const int h = viewHeight;
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return rgb;
}

Rgb pixelAt(const std::vector<unsigned char>& rgb, int x, int y)
{
    const int w = viewWidth;
    const int h = viewHeight;
    const size_t i = (static_cast<size_t>(h - 1 - y) * w + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

// Pixels in [x0, x1) x [y0, y1) (from the top) that pass `test`.
int countPixels(const std::vector<unsigned char>& rgb, int x0, int y0, int x1, int y1,
                const std::function<bool(Rgb)>& test)
{
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            n += test(pixelAt(rgb, x, y)) ? 1 : 0;
        }
    }
    return n;
}

bool isRed(Rgb c)
{
    return c.r > 120 && c.g < 40 && c.b < 40;
}

bool isWhite(Rgb c)
{
    return c.r > 180 && c.g > 180 && c.b > 180 && std::abs(c.r - c.b) < 10;
}

bool isGrey(Rgb c)
{
    return c.r > 60 && c.r < 120 && std::abs(c.r - c.g) < 6 && std::abs(c.r - c.b) < 6;
}

// The outline of the active polygon.
bool isGreen(Rgb c)
{
    return c.g > 100 && c.r < 80 && c.b < 80;
}

// The light grey of the apples, the start's bike and the finish.
bool isMarker(Rgb c)
{
    return c.r >= 115 && c.r < 190 && std::abs(c.r - c.g) < 6 && std::abs(c.r - c.b) < 6;
}

// Pixels that pass `test` within `reach` pixels of p.
int pixelsAround(const std::vector<unsigned char>& rgb, Pixel p, int reach, const std::function<bool(Rgb)>& test)
{
    return countPixels(rgb, p.x - reach, p.y - reach, p.x + reach + 1, p.y + reach + 1, test);
}

// Red text of a warning line whose baseline stands `below` pixels under the
// top, counted in the band of its lower-case letters (clear of the other
// line's descenders).
int warningPixels(const std::vector<unsigned char>& rgb, int below)
{
    return countPixels(rgb, 5, below - 10, 260, below, isRed);
}

// Writes the back buffer as editor-shots/NAME.ppm in the build folder.
void screenshot(const std::string& name)
{
    const auto dir = std::filesystem::path(VELTO_BINARY_DIR) / "editor-shots";
    std::filesystem::create_directories(dir);
    const int w = viewWidth;
    const int h = viewHeight;
    const auto rgb = readPicture();
    std::FILE* f = std::fopen((dir / (name + ".ppm")).c_str(), "wb");
    if (f == nullptr) {
        return;
    }
    std::fprintf(f, "P6\n%d %d\n255\n", w, h);
    for (int y = h - 1; y >= 0; --y) {
        std::fwrite(&rgb[static_cast<size_t>(y) * w * 3], 1, static_cast<size_t>(w) * 3, f);
    }
    std::fclose(f);
}

// A list of actions, one per frame; an action returning false runs again
// in the next frame (a wait). If the script ends and the editor does not,
// or it runs far too long, the editor is made to quit.
class Script {
public:
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    int frames = 0;
    bool timedOut = false;

    void add(std::function<bool()> step) { steps.push_back(std::move(step)); }
    void then(std::function<void()> action)
    {
        steps.push_back([action] {
            action();
            return true;
        });
    }
    void wait(int n)
    {
        for (int i = 0; i < n; ++i) {
            then([] {});
        }
    }
    // Until the window is active and maximised.
    void waitForWindow()
    {
        auto count = std::make_shared<int>(0);
        add([count] { return windowActive && viewWidth > modeWidth && ++*count > 5; });
    }
    void key(int vk, bool down) { then([vk, down] { injectKey(vk, down); }); }
    void tap(int vk)
    {
        key(vk, true);
        key(vk, false);
    }
    // Moves to the world point, then presses and releases the button; the
    // point the editor will see is stored in `at`.
    void click(double x, double y, int button = 1, Point* at = nullptr)
    {
        auto p = std::make_shared<Pixel>();
        then([=] {
            *p = toPixel(x, y);
            if (at != nullptr) {
                *at = toWorld(*p);
            }
            injectMouseMove(p->x, p->y);
        });
        then([=] { injectMouseButton(button, true, p->x, p->y); });
        then([=] { injectMouseButton(button, false, p->x, p->y); });
    }
    // The same at a window pixel.
    void clickPixel(int x, int y, int button = 1)
    {
        then([=] { injectMouseMove(x, y); });
        then([=] { injectMouseButton(button, true, x, y); });
        then([=] { injectMouseButton(button, false, x, y); });
    }
    void movePixel(int x, int y)
    {
        then([=] { injectMouseMove(x, y); });
    }
    void move(double x, double y)
    {
        then([=] {
            const Pixel p = toPixel(x, y);
            injectMouseMove(p.x, p.y);
        });
    }

    void attach()
    {
        setEditorFrameHook([this] {
            ++frames;
            if (next < steps.size()) {
                if (steps[next]()) {
                    ++next;
                }
            } else if (!timedOut) {
                timedOut = true;
                ADD_FAILURE() << "the editor did not end after its script";
                postQuitMessage();
            }
            if (frames > 20000 && !timedOut) {
                timedOut = true;
                ADD_FAILURE() << "script stuck at step " << next;
                postQuitMessage();
            }
        });
    }
};

class EditorWindow : public ::testing::Test {
protected:
    Answers answers;
    Script script;

    void SetUp() override
    {
        gameMode = false;
        fullscreen = false;
        modeWidth = 800;
        modeHeight = 600;
        trackPath.clear();
        answers.install();
        script.attach();
    }

    void TearDown() override
    {
        setEditorFrameHook(nullptr);
        Answers::uninstall();
        trackPath.clear();
    }

    void run()
    {
        runEditor();
        EXPECT_EQ(script.next, script.steps.size()) << "the editor ended before its script did";
    }
};

TEST_F(EditorWindow, APlayerDrawsAndSavesATrack)
{
    const std::string dir = scratchFolder("session");
    answers.savePath = dir + "/session.vlt";
    fullscreen = true;   // the editor never is
    std::vector<Point> triangle(3), bow(4), apple(2);
    Point start{};

    script.waitForWindow();
    script.then([] {
        EXPECT_FALSE(fullscreen);
        EXPECT_FALSE(controllersOpen());     // only the game reads them
        EXPECT_GT(viewHeight, modeHeight);   // maximised
        const auto rgb = readPicture();
        // The help stands at the bottom left when the editor opens.
        EXPECT_GT(countPixels(rgb, 5, viewHeight - 205, 400, viewHeight - 15, isWhite), 200);
        screenshot("new-track");
    });

    script.click(-300, -300, 1, &triangle[0]);
    script.then([] {
        EXPECT_TRUE(drawingPolygon);
        const auto rgb = readPicture();
        EXPECT_GT(warningPixels(rgb, 20), 50) << "Invalid polygon";
        EXPECT_EQ(warningPixels(rgb, 35), 0) << "no intersection";
        screenshot("drawing-first-vertex");
    });
    script.click(300, -300, 1, &triangle[1]);
    script.click(0, -150, 1, &triangle[2]);
    script.move(-100, -100);
    script.then([] {
        const auto rgb = readPicture();
        EXPECT_EQ(warningPixels(rgb, 20), 0) << "a simple outline is valid";
    });
    script.click(-100, -100, 3);
    script.then([&] {
        EXPECT_FALSE(drawingPolygon);
        EXPECT_EQ(polygonCount, 1);
        ASSERT_NE(activePolygon, nullptr);
        const auto rgb = readPicture();
        const Pixel inside = toPixel(0, -250);
        EXPECT_TRUE(isGrey(pixelAt(rgb, inside.x, inside.y)));
        const Pixel edge = toPixel(0, -300);
        const Rgb outline = pixelAt(rgb, edge.x, edge.y);
        EXPECT_GT(outline.g, outline.r + 60) << "green outline of the active polygon";
        screenshot("triangle");
    });

    // A bow-tie is dropped when finished.
    script.click(100, 100, 1, &bow[0]);
    script.click(250, 250, 1, &bow[1]);
    script.click(250, 100, 1, &bow[2]);
    // The mouse vertex keeps the outline simple, then makes it cross.
    script.move(150, 50);
    script.then([] { EXPECT_EQ(warningPixels(readPicture(), 20), 0) << "a simple outline is valid"; });
    script.move(100, 250);
    script.then([] {
        EXPECT_GT(warningPixels(readPicture(), 20), 50) << "Invalid polygon";
        screenshot("bow-tie");
    });
    script.click(100, 250, 1, &bow[3]);
    script.click(100, 250, 3);
    script.then([] {
        EXPECT_EQ(polygonCount, 1);
        EXPECT_EQ(polygonTail->polygon, nullptr);
    });

    script.tap(VK_TAB);
    script.then([] { EXPECT_EQ(editMode, AppleMode); });
    script.click(-300, 200, 1, &apple[0]);
    script.click(300, 200, 1, &apple[1]);
    script.move(0, 250);
    script.then([] {
        EXPECT_EQ(appleCount, 2);
        screenshot("apple-mode");
    });
    script.tap(VK_TAB);
    script.then([] {
        EXPECT_EQ(editMode, PolygonMode);
        EXPECT_EQ(appleCursor, nullptr);
    });

    script.key('S', true);
    script.move(-250, 50);
    script.move(-200, 10);
    script.then([] {
        EXPECT_EQ(editMode, PlaceStart);
        screenshot("place-start");
    });
    script.key('S', false);
    script.click(-200, 0, 1, &start);
    script.then([&] {
        EXPECT_EQ(editMode, PolygonMode);
        EXPECT_EQ(startPoint->x, start.x);
        EXPECT_EQ(startPoint->y, start.y);
    });
    answers.boxAnswers = {IDYES};
    script.tap(VK_ESCAPE);
    run();

    EXPECT_EQ(answers.texts(), std::vector<std::string>{"Save track?"});
    const Bytes expected = trackBytes(-1.0, start, {100, 0}, {triangle}, apple);
    EXPECT_EQ(readBytes(answers.savePath), expected);

    // Opened again in the editor it is the same track.
    Script again;
    script = again;
    script.attach();
    answers.messages.clear();
    answers.boxAnswers = {IDNO};
    trackPath = answers.savePath;
    script.waitForWindow();
    script.then([&] {
        EXPECT_EQ(polygonCount, 1);
        std::vector<Point> read;
        for (const Cvertex* v = editorPolygons->polygon->first; v != nullptr; v = v->next) {
            read.push_back({v->x, v->y});
        }
        EXPECT_EQ(read, triangle);
        EXPECT_EQ(appleCount, 2);
        EXPECT_EQ(startPoint->x, start.x);
        EXPECT_EQ(editorBestTime, -1.0);
        screenshot("reloaded");
    });
    script.tap(VK_ESCAPE);
    run();
    EXPECT_EQ(readBytes(answers.savePath), expected);

    // And the game builds the same world from it.
    gameMode = true;
    ASSERT_TRUE(buildWorld(answers.savePath));
    EXPECT_EQ(trackPolygonCount, 1);
    EXPECT_EQ(trackPolygons->next, nullptr);
    EXPECT_EQ(trackPolygons->polygon->first->x, triangle[0].x);
    EXPECT_EQ(applesLeft, 2);
    EXPECT_EQ(startPosition->x, start.x);
    freeWorld();
    gameMode = false;
    const std::string sim = std::string(VELTO_BINARY_DIR) + "/velto-sim";
    if (std::filesystem::exists(sim)) {
        const std::string command = sim + " " + answers.savePath + " --max-steps 10 > /dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::filesystem::remove_all(dir);
}

TEST_F(EditorWindow, SavingIsRefusedUntilTheTrackIsFitToRide)
{
    const std::string dir = scratchFolder("refusals");
    answers.savePath = dir + "/edge.vlt";
    Point start{}, finish{}, apple{};

    script.waitForWindow();
    // Half a polygon: neither the close box nor Esc asks anything.
    script.click(-250, -50);
    script.click(50, -50);
    script.then([] { injectClose(); });
    script.tap(VK_ESCAPE);
    script.wait(3);
    script.then([&] {
        EXPECT_TRUE(answers.messages.empty());
        EXPECT_TRUE(drawingPolygon);
    });
    // Finished across the bike's wheels.
    script.click(50, -20);
    script.click(-250, -20);
    script.click(-250, -20, 3);
    script.then([] {
        EXPECT_EQ(polygonCount, 1);
        EXPECT_GT(warningPixels(readPicture(), 35), 50) << "Intersection with polygons";
        screenshot("intersection");
    });
    script.then([&] {
        answers.boxAnswers = {IDCANCEL, IDYES};
        injectClose();
    });
    script.tap(VK_ESCAPE);
    script.tap(VK_DELETE);
    // The head above the top of the world.
    for (int i = 0; i < 6; ++i) {
        script.tap(VK_SUBTRACT);
    }
    script.tap(VK_UP);
    script.tap(VK_UP);
    script.key('S', true);
    script.move(0, 5980);
    script.key('S', false);
    script.click(0, 5980);
    script.then([&] {
        EXPECT_GT(editorMoto->head->position.y, 6000.0);
        EXPECT_EQ(warningPixels(readPicture(), 35), 0);
        screenshot("head-outside");
        answers.boxAnswers = {IDYES};
    });
    script.tap(VK_ESCAPE);
    script.then([&] { EXPECT_EQ(answers.saveDialogs, 0); });
    // Only a wheel outside the world, the finish and an apple beyond it:
    // the track saves.
    for (int i = 0; i < 12; ++i) {
        script.tap(VK_LEFT);
    }
    script.key('S', true);
    script.move(-7950, 5700);
    script.key('S', false);
    script.click(-7950, 5700, 1, &start);
    script.key('F', true);
    script.move(-8600, 5500);
    script.key('F', false);
    script.click(-8600, 5500, 1, &finish);
    script.tap(VK_TAB);
    script.click(-9000, 6300, 1, &apple);
    script.then([&] {
        EXPECT_TRUE(editorMoto->rearWheel->outsideRect(-8000, 8000, -6000, 6000));
        EXPECT_FALSE(editorMoto->head->outsideRect(-8000, 8000, -6000, 6000));
        answers.boxAnswers = {IDYES};
    });
    script.tap(VK_ESCAPE);
    run();

    EXPECT_EQ(answers.texts(),
              (std::vector<std::string>{"Save track?", "Save track?", "Motorbike collides with some polygons",
                                        "Save track?", "Motorbike is out of bounds", "Save track?"}));
    EXPECT_EQ(readBytes(answers.savePath), trackBytes(-1.0, start, finish, {}, {apple}));
    std::filesystem::remove_all(dir);
}

// A game mode started by F5 ends at once and is counted.
std::atomic<int> ridesStarted{0};
void endRideAtOnce(int32_t)
{
    ++ridesStarted;
    closeRequested = true;
}

TEST_F(EditorWindow, AStartInsideTheGroundIsRefusedForRidingAndSaving)
{
    const std::string dir = scratchFolder("buried");
    answers.savePath = dir + "/buried.vlt";
    ridesStarted = 0;
    gameLoopHook = endRideAtOnce;

    script.waitForWindow();
    // One large polygon drawn around the new track's start: the bike lies
    // wholly inside it and touches none of its edges.
    script.click(-480, 200);
    script.click(480, 200);
    script.click(480, -300);
    script.click(-480, -300);
    script.click(-480, -300, 3);
    script.wait(2);
    script.then([] {
        EXPECT_EQ(polygonCount, 1);
        EXPECT_FALSE(editorMoto->touchesPolygons(editorPolygons));
        EXPECT_TRUE(insideGround(editorPolygons, editorMoto->head->position.x, editorMoto->head->position.y));
        EXPECT_EQ(warningPixels(readPicture(), 35), 0);
    });
    script.tap(VK_F5);
    script.wait(3);
    script.then([&] { answers.boxAnswers = {IDYES}; });
    script.tap(VK_ESCAPE);
    script.wait(2);
    script.then([&] { answers.boxAnswers = {IDNO}; });
    script.tap(VK_ESCAPE);
    run();
    gameLoopHook = nullptr;

    EXPECT_EQ(ridesStarted.load(), 0);
    EXPECT_EQ(answers.texts(), (std::vector<std::string>{"Motorbike is inside the ground", "Save track?",
                                                         "Motorbike is inside the ground", "Save track?"}));
    EXPECT_FALSE(std::filesystem::exists(answers.savePath));
    std::filesystem::remove_all(dir);
}

TEST_F(EditorWindow, KeysActOncePerKeyDownAndTheCloseBoxAsksToSave)
{
    auto zoom = std::make_shared<double>();
    script.waitForWindow();
    script.then([zoom] {
        *zoom = viewZoom;
        injectKey(VK_ADD, true);
    });
    script.then([] { injectKey(VK_ADD, true, true); });   // the keyboard's auto-repeat
    script.then([] { injectKey(VK_ADD, true, true); });
    script.key(VK_ADD, false);
    script.wait(2);
    script.then([zoom] {
        EXPECT_EQ(viewZoom, *zoom * 8);
        // Pressed and released between two frames: the next frame still
        // sees the key, as it sees the click (a quick tap starts a polygon).
        injectKey(VK_SUBTRACT, true);
        injectKey(VK_SUBTRACT, false);
        const Pixel p = toPixel(0, -200);
        injectMouseButton(1, true, p.x, p.y);
        injectMouseButton(1, false, p.x, p.y);
    });
    script.wait(2);
    script.then([&, zoom] {
        EXPECT_EQ(viewZoom, *zoom * 4);
        EXPECT_TRUE(drawingPolygon);
        // A quick right click ends it again.
        injectMouseButton(3, true, 10, 10);
        injectMouseButton(3, false, 10, 10);
    });
    script.wait(2);
    script.then([&] {
        EXPECT_FALSE(drawingPolygon);
        answers.boxAnswers = {IDNO};
        injectClose();
    });
    run();
    EXPECT_EQ(answers.texts(), std::vector<std::string>{"Save track?"});
    EXPECT_EQ(answers.saveDialogs, 0);
}

// A track of the shipped pack, or, when the pack is not built, one like it:
// a ground with a hole, a block inside the hole, apples.
std::string shippedTrack()
{
    const auto path = std::filesystem::path(VELTO_BINARY_DIR) / "tracks" / "08-jumps.vlt";
    if (std::filesystem::exists(path)) {
        return path.string();
    }
    const std::string own = scratchFolder("pack") + "/ground.vlt";
    writeBytes(own, trackBytes(-1, {-1500, 300}, {2500, 350},
                               {{{-2000, 200}, {-500, 200}, {0, 400}, {600, 150}, {1200, 300}, {3000, 250},
                                 {3000, -800}, {-2000, -800}},
                                {{-1000, -600}, {1500, -600}, {1500, -100}, {-1000, -100}},
                                {{0, -500}, {500, -500}, {500, -200}, {0, -200}}},
                               {{-800, 500}, {300, 700}, {1800, 500}}));
    return own;
}

TEST_F(EditorWindow, ALoadedTrackInEveryMode)
{
    trackPath = shippedTrack();
    auto help = std::make_shared<double>();
    script.waitForWindow();
    script.then([] { screenshot("loaded-polygon-mode"); });
    // Not drawn while inactive: the help does not fade.
    script.then([help] {
        *help = helpAlpha;
        injectFocus(false);
    });
    script.wait(5);
    script.then([help] {
        EXPECT_FALSE(windowActive);
        EXPECT_EQ(helpAlpha, *help);
        injectFocus(true);
    });
    script.add([] { return windowActive.load(); });
    script.wait(90);
    script.then([] {
        EXPECT_EQ(helpAlpha, 0.0);
        EXPECT_EQ(countPixels(readPicture(), 5, viewHeight - 205, 400, viewHeight - 15, isWhite), 0);
    });
    script.tap(VK_F1);
    script.wait(10);
    script.then([] {
        EXPECT_DOUBLE_EQ(helpAlpha, 0.8);
        // Eighteen lines: the first stands 275 pixels above the bottom.
        const auto rgb = readPicture();
        EXPECT_GT(countPixels(rgb, 5, viewHeight - 290, 400, viewHeight - 265, isWhite), 50);
        EXPECT_EQ(countPixels(rgb, 5, viewHeight - 320, 400, viewHeight - 292, isWhite), 0);
        screenshot("help");
    });
    // The help and the warnings keep their pixel place at any zoom.
    script.tap(VK_ADD);
    script.tap(VK_ADD);
    script.clickPixel(500, 300);   // start a polygon: "Invalid polygon"
    script.then([] {
        const auto rgb = readPicture();
        EXPECT_GT(countPixels(rgb, 5, viewHeight - 205, 400, viewHeight - 15, isWhite), 200);
        EXPECT_GT(warningPixels(rgb, 20), 50);
        screenshot("zoomed-drawing");
    });
    script.clickPixel(500, 300, 3);
    script.tap(VK_SUBTRACT);
    script.tap(VK_SUBTRACT);
    script.tap(VK_SUBTRACT);
    script.tap(VK_F1);
    script.tap(VK_PRIOR);
    script.then([] {
        // The polygon selected is outlined.
        ASSERT_NE(activePolygon, nullptr);
        const Cvertex* corner = activePolygon->polygon->first;
        EXPECT_GT(pixelsAround(readPicture(), toPixel(corner->x, corner->y), 2, isGreen), 0);
        screenshot("previous-polygon");
    });
    script.then([] { injectKey('M', true); });
    auto before = std::make_shared<Point>();
    script.then([before] {
        before->x = activePolygon->polygon->first->x;
        before->y = activePolygon->polygon->first->y;
    });
    script.movePixel(540, 320);
    script.movePixel(580, 340);
    script.then([before] {
        EXPECT_EQ(editMode, MovePolygon);
        EXPECT_NEAR(activePolygon->polygon->first->x, before->x + 80 / viewZoom, 1e-6);
        EXPECT_NEAR(activePolygon->polygon->first->y, before->y - 40 / viewZoom, 1e-6);
        screenshot("move-polygon");
    });
    script.key('M', false);
    script.tap(VK_TAB);
    script.movePixel(600, 200);
    script.then([] {
        EXPECT_EQ(editMode, AppleMode);
        screenshot("apple-mode-loaded");
    });
    script.key('F', true);
    script.movePixel(700, 300);
    script.then([] {
        // The finish follows the mouse and is drawn there.
        EXPECT_EQ(editMode, PlaceFinish);
        EXPECT_NEAR(finishPoint->x, toWorld({700, 300}).x, 1e-9);
        EXPECT_NEAR(finishPoint->y, toWorld({700, 300}).y, 1e-9);
        EXPECT_GT(pixelsAround(readPicture(), {700, 300}, 4, isMarker), 5);
        screenshot("place-finish");
    });
    script.key('F', false);
    script.clickPixel(700, 300);
    script.key('S', true);
    script.movePixel(300, 350);
    script.then([] {
        // So does the start, with the bike on it: its rear wheel lies left
        // of the lines that join the bike's parts to the start.
        EXPECT_NEAR(startPoint->x, toWorld({300, 350}).x, 1e-9);
        EXPECT_NEAR(startPoint->y, toWorld({300, 350}).y, 1e-9);
        const Pixel rear = toPixel(startPoint->x - 64.0, startPoint->y - 113.0 / 3.0);
        EXPECT_GT(pixelsAround(readPicture(), rear, 4, isMarker), 3);
        screenshot("place-start-loaded");
    });
    script.key('S', false);
    script.clickPixel(300, 350);
    answers.boxAnswers = {IDNO};
    script.tap(VK_ESCAPE);
    run();
}

// The game mode of a test ride, watched from its loop: Esc pauses the run,
// a second Esc leaves it.
struct Ride {
    static inline int passes = 0;
    static inline bool running = false;
    static inline bool quitSent = false;
    static inline std::string track;
    static inline bool trackExisted = false;

    static void reset()
    {
        passes = 0;
        running = false;
        quitSent = false;
        track.clear();
        trackExisted = false;
    }

    static void hook(int32_t state)
    {
        ++passes;
        if (passes == 1) {
            EXPECT_TRUE(gameMode);
            EXPECT_TRUE(testRideActive) << "the ride's panels must say it is a test ride";
            track = trackPath;
            trackExisted = std::filesystem::exists(trackPath);
        }
        running = running || state == GameRunning;
        if (passes == 40) {
            injectKey(VK_ESCAPE, true);
        } else if (passes == 41) {
            injectKey(VK_ESCAPE, false);
        } else if (state == GamePaused && !quitSent) {
            quitSent = true;
            injectKey(VK_ESCAPE, true);
        }
    }
};

// What the editor shows and keeps, to compare before and after a ride.
// Pixels in which two pictures differ.
int differingPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    int n = 0;
    for (size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3) {
        n += (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) ? 1 : 0;
    }
    return n;
}

// The kept picture of the ground is the one drawn from scratch: checked
// after every kind of change to the polygons, and the shape test of the
// polygon being drawn follows its every change.
TEST_F(EditorWindow, TheKeptPictureFollowsEveryEditAndUndo)
{
    const std::string dir = scratchFolder("kept");
    trackPath = dir + "/kept.vlt";
    // A wavy round of 300 vertices (filled by fans of fans), a field with a
    // hole, a block across its edge, one within the hole.
    std::vector<Point> round;
    for (int k = 0; k < 300; ++k) {
        const double a = 2 * 3.14159265358979 * k / 300;
        const double r = 120 + 40 * std::sin(7 * a);
        round.push_back({-300 + r * std::cos(a), 150 + r * std::sin(a)});
    }
    writeBytes(trackPath, trackBytes(-1, {-500, 400}, {500, 400},
                                     {round,
                                      {{-600, -400}, {600, -400}, {600, 100}, {-600, 100}},
                                      {{-200, -300}, {200, -300}, {200, -100}, {-200, -100}},
                                      {{300, 0}, {500, 0}, {500, 250}, {300, 250}},
                                      {{-100, -250}, {100, -250}, {0, -150}}},
                                     {}));
    auto kept = std::make_shared<std::vector<unsigned char>>();
    auto checks = std::make_shared<int>(0);
    // Reads the kept picture, then draws the next frame from scratch.
    auto same = [&, kept, checks](const char* after) {
        script.then([kept] {
            *kept = readPicture();
            CeditorDrawCache::enabled = false;
        });
        script.then([kept, checks, after] {
            CeditorDrawCache::enabled = true;
            ++*checks;
            // Where polygons cross, the tessellator's new vertices may round
            // a pixel of an edge the other way; a stale picture differs by
            // whole edges.
            EXPECT_LE(differingPixels(*kept, readPicture()), 10) << "after " << after;
        });
    };
    auto validity = [&](bool valid) {
        script.then([valid] {
            ASSERT_TRUE(drawingPolygon);
            EXPECT_EQ(drawnPolygonValid, valid);
            EXPECT_EQ(warningPixels(readPicture(), 20) > 50, !valid);
        });
    };

    script.waitForWindow();
    script.wait(90);   // the help fades out
    same("opening");
    script.click(-400, -350);
    script.click(400, -350);
    validity(false);   // two placed vertices
    script.click(0, 300);
    script.move(-450, 200);
    validity(true);
    same("drawing");
    script.click(-450, 200);   // the mouse vertex now sits on the last one
    validity(false);
    script.tap(VK_BACK);       // and goes with it
    validity(true);
    script.click(-450, 200, 3);
    same("finishing a polygon");
    script.then([] { injectKey(VK_CONTROL, true); });
    script.tap('Z');
    script.then([] { EXPECT_EQ(polygonCount, 5); });
    same("undoing it");
    script.tap('Y');
    script.then([] { EXPECT_EQ(polygonCount, 6); });
    same("redoing it");
    script.key(VK_CONTROL, false);
    script.tap(VK_PRIOR);
    script.key('M', true);
    script.move(-300, -200);
    script.move(-250, -100);
    same("moving a polygon");
    script.key('M', false);
    script.then([] { injectKey(VK_CONTROL, true); });
    script.tap('Z');
    same("undoing the move");
    script.key(VK_CONTROL, false);
    script.tap(VK_DELETE);
    same("deleting a polygon");
    script.then([] { injectKey(VK_CONTROL, true); });
    script.tap('Z');
    script.key(VK_CONTROL, false);
    same("undoing the deletion");
    script.tap(VK_TAB);
    same("leaving the outline");
    script.tap(VK_F1);
    script.wait(10);
    same("showing the help");
    answers.boxAnswers = {IDNO};
    script.tap(VK_ESCAPE);
    run();
    EXPECT_EQ(*checks, 11);
    std::filesystem::remove_all(dir);
}

struct EditorState {
    double zoom, x, y;
    int32_t mode, polygons, apples;
    const Cpolygons* selected;
    size_t undo, redo;
    Point start;
    bool operator==(const EditorState&) const = default;

    static EditorState now()
    {
        return {viewZoom, viewCentre.x, viewCentre.y, editMode, polygonCount, appleCount, activePolygon,
                undoStepCount(), redoStepCount(), {startPoint->x, startPoint->y}};
    }
};

TEST_F(EditorWindow, ATestRideComesBackToTheSameEditor)
{
    trackPath = shippedTrack();
    const Bytes track = readBytes(trackPath);
    Ride::reset();
    gameLoopHook = Ride::hook;
    auto state = std::make_shared<EditorState>();
    auto picture = std::make_shared<std::vector<unsigned char>>();
    const auto temp = std::filesystem::temp_directory_path();
    const std::string noTextures = scratchFolder("no-textures");

    script.waitForWindow();
    // The whole track fits the maximised window, not the dialog's size.
    script.then([] {
        const double fit = std::min(viewWidth / (trackBounds.maxX - trackBounds.minX),
                                    viewHeight / (trackBounds.maxY - trackBounds.minY));
        EXPECT_DOUBLE_EQ(viewZoom, std::max(fit, viewWidth / 16000.0));
    });
    script.tap(VK_ADD);
    script.tap(VK_PRIOR);
    script.clickPixel(400, 300);
    script.clickPixel(500, 300);
    script.clickPixel(450, 250);
    script.clickPixel(450, 250, 3);
    script.then([] { injectKey(VK_CONTROL, true); });
    script.tap('Z');
    script.key(VK_CONTROL, false);
    // F5 while drawing: refused silently, like a save.
    script.clickPixel(400, 300);
    script.tap(VK_F5);
    script.wait(2);
    script.then([&] {
        EXPECT_TRUE(drawingPolygon);
        EXPECT_EQ(Ride::passes, 0);
        EXPECT_TRUE(answers.messages.empty());
    });
    script.tap(VK_BACK);
    script.wait(90);   // the help fades out
    script.then([state, picture] {
        EXPECT_FALSE(drawingPolygon);
        EXPECT_EQ(redoStepCount(), 1u);
        *state = EditorState::now();
        *picture = readPicture();
        screenshot("before-ride");
    });
    script.tap(VK_F5);
    script.waitForWindow();
    script.wait(3);
    script.then([state, picture, temp] {
        EXPECT_TRUE(Ride::running);
        EXPECT_TRUE(Ride::quitSent);
        EXPECT_TRUE(Ride::trackExisted);
        EXPECT_EQ(std::filesystem::path(Ride::track).parent_path().parent_path(), temp);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(Ride::track).parent_path()));
        EXPECT_FALSE(gameMode);
        EXPECT_FALSE(testRideActive);
        EXPECT_TRUE(*state == EditorState::now());
        EXPECT_TRUE(*picture == readPicture()) << "the picture changed over the ride";
        screenshot("after-ride");
    });
    // A game that cannot start: its message, then the same editor.
    script.then([noTextures] { ASSERT_EQ(::chdir(noTextures.c_str()), 0); });
    script.tap(VK_F5);
    script.waitForWindow();
    script.wait(3);
    script.then([&, state, picture] {
        ASSERT_EQ(::chdir(VELTO_BINARY_DIR), 0);
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_EQ(answers.messages[0].text.rfind("Image loading error.", 0), 0u);
        EXPECT_TRUE(*state == EditorState::now());
        EXPECT_TRUE(*picture == readPicture());
        answers.boxAnswers = {IDNO};
    });
    script.tap(VK_ESCAPE);
    run();
    gameLoopHook = nullptr;
    EXPECT_EQ(readBytes(trackPath), track);
    std::filesystem::remove_all(noTextures);
}

// The mean time of a frame (input, drawing, swap) over `frames` frames.
double frameTime(const std::string& path, int frames, Answers& answers)
{
    trackPath = path;
    auto begin = std::make_shared<std::chrono::steady_clock::time_point>();
    auto end = std::make_shared<std::chrono::steady_clock::time_point>();
    Script script;
    script.waitForWindow();
    script.then([begin] { *begin = std::chrono::steady_clock::now(); });
    script.wait(frames);
    script.then([end] { *end = std::chrono::steady_clock::now(); });
    answers.boxAnswers = {IDNO};
    script.tap(VK_ESCAPE);
    script.attach();
    runEditor();
    setEditorFrameHook(nullptr);
    return std::chrono::duration<double, std::milli>(*end - *begin).count() / (frames + 1);
}

// About 20,000 vertices: 20 twenty-pointed stars of 1000 vertices each.
std::string bigTrack(const std::string& dir)
{
    std::vector<std::vector<Point>> polygons;
    for (int i = 0; i < 20; ++i) {
        const double cx = -7000 + (i % 5) * 3500;
        const double cy = -4500 + (i / 5) * 3000;
        std::vector<Point> star;
        for (int k = 0; k < 1000; ++k) {
            const double a = 2 * 3.14159265358979 * k / 1000;
            const double r = 1000 + 300 * std::sin(20 * a);
            star.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
        }
        polygons.push_back(star);
    }
    const std::string path = dir + "/big.vlt";
    writeBytes(path, trackBytes(-1, {1750, 5700}, {1750, 5800}, polygons, {{0, 0}}));
    return path;
}

TEST_F(EditorWindow, FrameTime)
{
    setEditorFrameHook(nullptr);
    const std::string dir = scratchFolder("frametime");
    const std::string shipped = shippedTrack();
    const double ms = frameTime(shipped, 100, answers);
    std::printf("editor frame time, %s: %.2f ms\n", shipped.c_str(), ms);
    RecordProperty("shipped_track_ms", std::to_string(ms));
    const double big = frameTime(bigTrack(dir), 30, answers);
    std::printf("editor frame time, 20 polygons x 1000 vertices: %.2f ms\n", big);
    RecordProperty("big_track_ms", std::to_string(big));
    // Every frame fills the whole track anew, so a frame takes longer on a
    // larger track, but in step with it: a few shipped frames' time for
    // 20,000 vertices (4 to 9 measured), where work over pairs of vertices
    // would take a hundred times as long. Measured against the shipped
    // track in the same run, the bound holds on a busy machine too.
    EXPECT_LT(big, 40.0 * ms);
    std::filesystem::remove_all(dir);
}

} // namespace

namespace {

// The author's finish on the track at `path`, kept beside it as its best
// run: full throttle from the start.
bool keepThrottleRun(const std::string& path)
{
    Replay replay;
    replay.trackName = std::filesystem::path(path).filename().string();
    if (!trackDigest(path, replay.digest)) {
        return false;
    }
    replay.changes = {KeyChange{0, KeyUp}};
    const bool editor = !gameMode;
    gameMode = true;
    const bool built = buildWorld(path);
    KeyPlayer keys;
    keys.begin(&replay.changes);
    int32_t result = StepRunning;
    while (built && result == StepRunning && replay.steps < 5000) {
        result = stepWorldWithKeys(kStepSeconds, keys.keysAt(static_cast<uint64_t>(replay.steps)));
        ++replay.steps;
    }
    freeWorld();
    gameMode = !editor;
    replay.result = result == StepFinished ? ReplayFinished : ReplayCrashed;
    return result == StepFinished && writeReplayFile(bestReplayPath(path), replay);
}

} // namespace

// F6 publishes the track on the hub the player joined, with its author's
// finish; a track changed and saved needs a new finish, and then goes up
// as an update of the same track.
TEST_F(EditorWindow, F6PublishesTheTrackAndAChangedOneAsAnUpdate)
{
    NEEDS_REAL_HUB();
    RealHub hub;
    ASSERT_TRUE(hub.running());
    const std::string dir = scratchFolder("publish");
    const HubFiles files{dir};
    const std::string path = dir + "/Flat Out.vlt";
    writeBytes(path, trackBytes(-1.0, {0.0, 70.0}, {400.0, 40.0},
                                {{{-1000.0, 400.0}, {-900.0, 0.0}, {2900.0, 0.0}, {3000.0, 400.0}, {3000.0, -500.0},
                                  {-1000.0, -500.0}}},
                                {}));
    trackPath = path;
    setTrackPublisher(hubTrackPublisher());
    hubSetHome(files);
    auto line = std::make_shared<std::string>();
    const auto answered = [this, line](const std::string& start) {
        auto begun = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
        script.add([line, start, begun] {
            *line = publishLine();
            return line->rfind(start, 0) == 0 || std::chrono::steady_clock::now() - *begun > std::chrono::seconds(20);
        });
    };

    script.waitForWindow();
    // No hub yet: nothing is sent, and the line says why.
    script.tap(VK_F6);
    script.then([line] { EXPECT_EQ(publishLine(), "Not published: join a hub first (H on the game's track list)"); });
    script.then([&] {
        const RegisterResult joined = registerPlayer(hub.url(), "Ann", HubTimeouts{});
        ASSERT_TRUE(joined.ok) << joined.message;
        ASSERT_TRUE(writeHubAccount(files.settings(), HubAccount{hub.url(), "Ann", joined.token}));
        ASSERT_TRUE(hubStart(files));
    });
    // Without a finish of her own.
    script.tap(VK_F6);
    script.then([] {
        EXPECT_EQ(publishLine(), "Not published: it needs a finish of your own first. Ride Flat Out.vlt to the "
                                 "finish in the game (a test ride keeps no run)");
    });
    script.then([path] { ASSERT_TRUE(keepThrottleRun(path)); });
    script.tap(VK_F6);
    answered("Published: ");
    script.wait(3);
    script.then([line] {
        EXPECT_EQ(line->rfind("Published: Flat Out.vlt   par 00:", 0), 0u) << *line;
        EXPECT_EQ(line->find("update"), std::string::npos);
        screenshot("published");
    });
    // The finish moved: F6 saves the change, which needs a new finish.
    script.key('F', true);
    script.click(450.0, 40.0);
    script.key('F', false);
    script.wait(2);
    script.tap(VK_F6);
    script.then([path] {
        EXPECT_EQ(publishLine().rfind("Not published: it needs a finish of your own first.", 0), 0u);
        EXPECT_GT(readBytes(path).size(), 8u);
        ASSERT_TRUE(keepThrottleRun(path));
    });
    script.tap(VK_F6);
    answered("Published: ");
    script.then([line] { EXPECT_NE(line->find("(an update)"), std::string::npos) << *line; });
    script.tap(VK_ESCAPE);
    answers.boxAnswers = {IDNO};
    run();

    const HubAccount reader{hub.url(), "Ann", ""};
    const HubTrackPage list = fetchTrackPage(reader, HubSort::Newest, "", 1, HubTimeouts{}, nullptr);
    ASSERT_EQ(list.tracks.size(), 1u);
    EXPECT_TRUE(list.tracks[0].updated);
    uint64_t digest = 0;
    ASSERT_TRUE(trackDigest(path, digest));
    EXPECT_EQ(list.tracks[0].digest, digest);
    EXPECT_EQ(publishedDigest(files, hub.url(), path), digest);
    hubStop();
    browseStop();
    hubSetHome(HubFiles{});
    setTrackPublisher(TrackPublisher{});
}
