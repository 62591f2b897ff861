// The editor's commands and saving, driven through the shared input state
// one frame at a time, without a window.
#include "EditorTestSupport.h"

#include "editor/EditHistory.h"
#include "editor/Editor.h"
#include "editor/EditorWindow.h"
#include "editor/TestRide.h"
#include "editor/ViewFit.h"
#include "model/Globals.h"
#include "model/TrackFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <csignal>
#include <sys/resource.h>

using namespace editortest;

namespace {

class EditorInput : public ::testing::Test {
protected:
    Answers answers;

    void SetUp() override
    {
        gameMode = false;
        trackPath.clear();
        modeWidth = 800;
        modeHeight = 600;
        clearKeys();
        mouseButtons = 0;
        viewWidth = 800;
        viewHeight = 600;
        windowActive = false;
        answers.install();
    }

    void TearDown() override
    {
        doneEditor();
        Answers::uninstall();
        trackPath.clear();
        clearKeys();
        mouseButtons = 0;
    }

    void start(const std::string& path = std::string())
    {
        trackPath = path;
        ASSERT_TRUE(initEditor());
    }

    static bool frame() { return editorInput(); }

    // Puts the mouse over the world point (x, y) with the view as it stands.
    static void mouseAt(double x, double y)
    {
        mouseX = static_cast<int32_t>(std::lround((x - viewCentre.x) * viewZoom + viewWidth / 2.0));
        mouseY = static_cast<int32_t>(std::lround(viewHeight / 2.0 - (y - viewCentre.y) * viewZoom));
    }

    // Moves the mouse there (one frame, as a player's hand would), then
    // presses and releases the button.
    static void click(double x, double y, int button = MK_LBUTTON)
    {
        mouseAt(x, y);
        frame();
        mouseButtons = button;
        frame();
        mouseButtons = 0;
        frame();
    }

    static void rightClick(double x, double y) { click(x, y, MK_RBUTTON); }

    static void press(int key)
    {
        keyDown[key] = true;
        frame();
    }

    static void drawPolygon(const std::vector<Point>& points)
    {
        for (const Point& p : points) {
            click(p.x, p.y);
        }
        rightClick(points.back().x, points.back().y);
    }

    // Three separate triangles, far from the bike at the start.
    static void drawThreeTriangles()
    {
        drawPolygon({{-300, 100}, {-200, 100}, {-250, 200}});
        drawPolygon({{0, 100}, {100, 100}, {50, 200}});
        drawPolygon({{200, 100}, {300, 100}, {250, 200}});
    }

    static std::vector<Point> vertices(const Cpolygons* node)
    {
        std::vector<Point> result;
        for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
            result.push_back({v->x, v->y});
        }
        return result;
    }

    static void control(int key, bool shift = false)
    {
        keyDown[VK_CONTROL] = true;
        keyDown[VK_SHIFT] = shift;
        press(key);
        keyDown[VK_CONTROL] = false;
        keyDown[VK_SHIFT] = false;
    }

    // Esc, Yes, and the save dialog answered with `path`: true when saved.
    bool saveAs(const std::string& path)
    {
        answers.savePath = path;
        answers.boxAnswers = {IDYES};
        keyDown[VK_ESCAPE] = true;
        return frame();
    }

    static std::vector<Point> apples()
    {
        std::vector<Point> result;
        for (const Capples* a = editorApples; a != nullptr; a = a->next) {
            result.push_back({a->x, a->y});
        }
        return result;
    }
};

// Zoom and pan act once per key-down, in pixels, and stop at the world.
TEST_F(EditorInput, ZoomAndPanStopAtTheWorld)
{
    viewWidth = 1000;
    start();
    press(VK_ADD);
    EXPECT_EQ(viewZoom, 2.0);
    EXPECT_FALSE(keyDown[VK_ADD]);
    frame();
    EXPECT_EQ(viewZoom, 2.0);
    press(VK_RIGHT);
    EXPECT_DOUBLE_EQ(viewCentre.x, 50.0);   // 100 pixels
    keyDown[VK_SHIFT] = true;
    press(VK_ADD);
    EXPECT_DOUBLE_EQ(viewZoom, 2.4);
    press(VK_UP);
    EXPECT_DOUBLE_EQ(viewCentre.y, 20 / 2.4);   // 20 pixels
    keyDown[VK_SHIFT] = false;
    for (int i = 0; i < 30; ++i) {
        press(VK_SUBTRACT);
        press(VK_LEFT);
        press(VK_UP);
    }
    EXPECT_DOUBLE_EQ(viewZoom, 1000.0 / 16000.0);   // the width decides
    EXPECT_EQ(viewCentre.x, -8000.0);
    EXPECT_EQ(viewCentre.y, 6000.0);
    viewWidth = 600;
    viewHeight = 1000;
    frame();
    EXPECT_DOUBLE_EQ(viewZoom, 1000.0 / 12000.0);   // now the height
    for (int i = 0; i < 30; ++i) {
        press(VK_ADD);
    }
    EXPECT_EQ(viewZoom, 1000.0);
}

TEST_F(EditorInput, ThreeClicksAndARightClickMakeAnActiveTriangle)
{
    start();
    click(0, 100);
    EXPECT_TRUE(drawingPolygon);
    EXPECT_EQ(polygonTail, editorPolygons);
    EXPECT_EQ(polygonTail->polygon->count, 1);
    click(100, 100);
    click(50, 200);
    mouseAt(60, 300);
    frame();
    // Three placed vertices and the mouse vertex following the mouse.
    EXPECT_EQ(vertices(polygonTail), (std::vector<Point>{{0, 100}, {100, 100}, {50, 200}, {60, 300}}));
    EXPECT_EQ(polygonTail->polygon->count, 3);
    rightClick(60, 300);
    EXPECT_FALSE(drawingPolygon);
    EXPECT_EQ(polygonCount, 1);
    ASSERT_EQ(activePolygon, editorPolygons);
    EXPECT_EQ(vertices(activePolygon), (std::vector<Point>{{0, 100}, {100, 100}, {50, 200}}));
    ASSERT_NE(polygonTail, activePolygon);
    EXPECT_EQ(polygonTail->polygon, nullptr);
    EXPECT_EQ(polygonTail->prev, activePolygon);
}

TEST_F(EditorInput, InvalidPolygonsAreDroppedAndTheLastFinishedOneBecomesActive)
{
    start();
    click(0, 100);
    rightClick(0, 100);   // one vertex: nothing
    EXPECT_EQ(polygonCount, 0);
    EXPECT_EQ(activePolygon, nullptr);
    EXPECT_EQ(polygonTail->polygon, nullptr);

    drawPolygon({{0, 100}, {100, 100}, {50, 200}});
    Cpolygons* triangle = activePolygon;
    drawPolygon({{300, 100}, {400, 200}, {400, 100}, {300, 200}});   // a bow-tie
    EXPECT_EQ(polygonCount, 1);
    EXPECT_EQ(activePolygon, triangle);
    EXPECT_EQ(polygonTail->polygon, nullptr);
    EXPECT_EQ(triangle->next, polygonTail);
}

TEST_F(EditorInput, DelSelectsTheFollowingPolygonElseThePrecedingOne)
{
    start();
    drawThreeTriangles();
    Cpolygons* first = editorPolygons;
    Cpolygons* second = first->next;
    Cpolygons* third = second->next;
    activePolygon = first;
    press(VK_DELETE);
    EXPECT_EQ(activePolygon, second);
    EXPECT_EQ(editorPolygons, second);
    EXPECT_EQ(polygonCount, 2);
    activePolygon = third;
    press(VK_DELETE);
    EXPECT_EQ(activePolygon, second);
    EXPECT_EQ(second->next, polygonTail);
    press(VK_DELETE);
    EXPECT_EQ(activePolygon, nullptr);
    EXPECT_EQ(polygonCount, 0);
    EXPECT_EQ(editorPolygons, polygonTail);
    press(VK_DELETE);   // nothing left to delete
    EXPECT_EQ(polygonCount, 0);
    EXPECT_FALSE(keyDown[VK_DELETE]);
}

TEST_F(EditorInput, PgUpAndPgDownWrapAroundThePolygons)
{
    start();
    drawThreeTriangles();
    Cpolygons* first = editorPolygons;
    Cpolygons* third = first->next->next;
    EXPECT_EQ(activePolygon, third);
    press(VK_NEXT);
    EXPECT_EQ(activePolygon, first);   // never the empty tail
    press(VK_PRIOR);
    EXPECT_EQ(activePolygon, third);
    press(VK_PRIOR);
    EXPECT_EQ(activePolygon, first->next);
}

TEST_F(EditorInput, AppleModeKeepsTheCursorOffTheCountAndTheSelection)
{
    start();
    mouseAt(10, 20);
    press(VK_TAB);
    EXPECT_EQ(editMode, AppleMode);
    ASSERT_NE(appleCursor, nullptr);
    EXPECT_EQ(editorApples, appleCursor);
    EXPECT_EQ(appleCount, 0);
    press(VK_TAB);
    EXPECT_EQ(editMode, PolygonMode);
    EXPECT_EQ(editorApples, nullptr);
    EXPECT_EQ(appleCursor, nullptr);

    press(VK_TAB);
    click(100, 300);
    EXPECT_EQ(appleCount, 1);
    ASSERT_NE(activeApple, nullptr);
    EXPECT_EQ(activeApple->x, 100.0);
    EXPECT_EQ(activeApple->y, 300.0);
    click(200, 300);
    click(300, 300);
    mouseAt(400, 300);
    frame();
    EXPECT_EQ(apples(), (std::vector<Point>{{100, 300}, {200, 300}, {300, 300}, {400, 300}}));
    EXPECT_EQ(appleCount, 3);

    press(VK_NEXT);   // from the last placed apple round to the first
    EXPECT_EQ(activeApple, editorApples);
    press(VK_PRIOR);
    EXPECT_EQ(activeApple->x, 300.0);
    EXPECT_NE(activeApple, appleCursor);

    press(VK_DELETE);   // the last placed apple: the cursor is not chosen
    EXPECT_EQ(appleCount, 2);
    EXPECT_EQ(activeApple->x, 200.0);
    activeApple = editorApples;
    press(VK_DELETE);
    EXPECT_EQ(activeApple->x, 200.0);
    EXPECT_EQ(editorApples, activeApple);
    EXPECT_EQ(activeApple->prev, nullptr);

    // Ctrl with the left button centres the view and drops nothing.
    keyDown[VK_CONTROL] = true;
    click(500, -200);
    keyDown[VK_CONTROL] = false;
    EXPECT_EQ(appleCount, 1);
    EXPECT_EQ(viewCentre.x, 500.0);
    EXPECT_EQ(viewCentre.y, -200.0);

    press(VK_TAB);
    EXPECT_EQ(apples(), (std::vector<Point>{{200, 300}}));
}

TEST_F(EditorInput, StartAndFinishStayWhereTheLeftButtonPlacedThem)
{
    start();
    keyDown['S'] = true;
    mouseAt(-500, 50);
    frame();
    keyDown['S'] = false;
    mouseAt(-400, 60);
    frame();
    EXPECT_EQ(editMode, PlaceStart);
    EXPECT_EQ(startPoint->x, -400.0);
    click(-300, 70);
    EXPECT_EQ(editMode, PolygonMode);
    mouseAt(0, 0);
    frame();
    EXPECT_EQ(startPoint->x, -300.0);
    EXPECT_EQ(startPoint->y, 70.0);
    EXPECT_DOUBLE_EQ(editorMoto->rearWheel->position.x, -364.0);
    EXPECT_DOUBLE_EQ(editorMoto->head->position.y, 70.0 + 233.0 / 3.0);

    // With F still held the left press keeps the placement going.
    keyDown['F'] = true;
    click(600, 10);
    frame();
    EXPECT_EQ(editMode, PlaceFinish);
    keyDown['F'] = false;
    click(700, 20);
    mouseAt(0, 0);
    frame();
    EXPECT_EQ(editMode, PolygonMode);
    EXPECT_EQ(finishPoint->x, 700.0);
    EXPECT_EQ(finishPoint->y, 20.0);
}

TEST_F(EditorInput, HoldingMDragsTheActivePolygon)
{
    start();
    drawPolygon({{0, 100}, {100, 100}, {50, 200}});
    mouseAt(10, 10);
    keyDown['M'] = true;
    frame();
    EXPECT_EQ(editMode, MovePolygon);
    press(VK_TAB);   // ignored while moving
    EXPECT_EQ(editMode, MovePolygon);
    mouseAt(40, 30);
    frame();
    mouseAt(60, 60);
    frame();
    keyDown['M'] = false;
    frame();
    EXPECT_EQ(editMode, PolygonMode);
    EXPECT_EQ(vertices(activePolygon), (std::vector<Point>{{50, 150}, {150, 150}, {100, 250}}));
}

TEST_F(EditorInput, WhileDrawingModesAndSavingAreLocked)
{
    start();
    click(0, 100);
    click(100, 100);
    press(VK_TAB);
    keyDown['S'] = true;
    keyDown['F'] = true;
    keyDown['M'] = true;
    frame();
    EXPECT_EQ(editMode, PolygonMode);
    keyDown['S'] = false;
    keyDown['F'] = false;
    keyDown['M'] = false;
    keyDown[VK_ESCAPE] = true;
    EXPECT_FALSE(frame());
    EXPECT_TRUE(answers.messages.empty());
    EXPECT_FALSE(keyDown[VK_ESCAPE]);
    press(VK_F5);   // a test ride, too
    EXPECT_FALSE(takeTestRideRequest());
    EXPECT_TRUE(answers.messages.empty());
    EXPECT_TRUE(drawingPolygon);
    EXPECT_FALSE(cursorShown);
    click(50, 200);
    rightClick(50, 200);
    EXPECT_EQ(polygonCount, 1);
    EXPECT_TRUE(cursorShown);
    press(VK_TAB);
    EXPECT_FALSE(cursorShown);   // the apple follows the mouse instead

    // A ride needs the start that a save needs.
    press(VK_F5);
    EXPECT_TRUE(takeTestRideRequest());
    keyDown['S'] = true;
    frame();
    keyDown['S'] = false;
    click(50, 110);
    press(VK_F5);
    EXPECT_FALSE(takeTestRideRequest());
    EXPECT_EQ(answers.texts(), std::vector<std::string>{"Motorbike collides with some polygons"});
}

TEST_F(EditorInput, ANewTrackSavedUnchangedIsTheFortyEightBytes)
{
    const std::string dir = scratchFolder("new");
    start();
    // The save dialog cancelled: the editor goes on and nothing is written.
    answers.boxAnswers = {IDYES};
    keyDown[VK_ESCAPE] = true;
    EXPECT_FALSE(frame());
    EXPECT_EQ(answers.saveDialogs, 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir));

    answers.savePath = dir + "/new.vlt";
    answers.boxAnswers = {IDYES};
    keyDown[VK_ESCAPE] = true;
    EXPECT_TRUE(frame());
    ASSERT_EQ(answers.messages.size(), 2u);
    EXPECT_EQ(answers.messages[1].text, "Save track?");
    EXPECT_EQ(answers.messages[1].caption, "Velto");
    EXPECT_EQ(answers.messages[1].flags, 0x2023u);
    EXPECT_EQ(answers.proposedName, "");
    EXPECT_EQ(readBytes(answers.savePath), trackBytes(-1.0, {-100, 0}, {100, 0}, {}, {}));
    std::filesystem::remove_all(dir);
}

TEST_F(EditorInput, SavedTrackReadsBackAsDrawnWithoutTheAppleCursor)
{
    const std::string dir = scratchFolder("drawn");
    start();
    drawPolygon({{-1000, -500}, {1000, -500}, {1000, -200}, {-1000, -200}});
    press(VK_TAB);
    click(100, 300);
    click(200, 300);
    mouseAt(300, 300);
    answers.savePath = dir + "/drawn.vlt";
    answers.boxAnswers = {IDYES};
    keyDown[VK_ESCAPE] = true;
    EXPECT_TRUE(frame());   // saved in AppleMode
    EXPECT_EQ(appleCursor, nullptr);
    const Bytes expected = trackBytes(-1.0, {-100, 0}, {100, 0},
                                      {{{-1000, -500}, {1000, -500}, {1000, -200}, {-1000, -200}}},
                                      {{100, 300}, {200, 300}});
    EXPECT_EQ(readBytes(answers.savePath), expected);
    doneEditor();

    // Loaded again it is the same track, with the empty node at the end.
    start(answers.savePath);
    EXPECT_EQ(polygonCount, 1);
    EXPECT_EQ(vertices(editorPolygons),
              (std::vector<Point>{{-1000, -500}, {1000, -500}, {1000, -200}, {-1000, -200}}));
    EXPECT_EQ(activePolygon, editorPolygons);
    EXPECT_EQ(polygonTail, editorPolygons->next);
    EXPECT_EQ(apples(), (std::vector<Point>{{100, 300}, {200, 300}}));
    EXPECT_EQ(appleCount, 2);
    std::filesystem::remove_all(dir);
}

TEST_F(EditorInput, AFailedSaveKeepsTheOldFileAndTheTrack)
{
    const std::string dir = scratchFolder("fail");
    const std::string path = dir + "/old.vlt";
    const Bytes old = trackBytes(0.5, {-100, 0}, {100, 0}, {{{-50, 200}, {50, 200}, {0, 300}}}, {{1, 2}});
    writeBytes(path, old);
    start(path);
    press(VK_TAB);
    click(50, 1);
    const int32_t apples = appleCount;
    Capples* cursor = appleCursor;

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    answers.savePath = path;
    answers.boxAnswers = {IDYES};
    keyDown[VK_ESCAPE] = true;
    const bool ended = frame();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ended);
    EXPECT_EQ(answers.proposedName, path);   // the loaded track's own name
    ASSERT_EQ(answers.messages.size(), 2u);
    EXPECT_EQ(answers.messages[1].text, "Cant't save the track.");
    EXPECT_EQ(answers.messages[1].caption, "Error");
    EXPECT_EQ(answers.messages[1].flags, 0x30u);
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    EXPECT_EQ(appleCount, apples);
    EXPECT_EQ(appleCursor, cursor);
    EXPECT_EQ(editMode, AppleMode);
    EXPECT_EQ(editorBestTime, 0.5);

    for (const std::string& bad : {dir + "/missing/x.vlt", dir}) {
        answers.messages.clear();
        answers.savePath = bad;
        answers.boxAnswers = {IDYES};
        keyDown[VK_ESCAPE] = true;
        EXPECT_FALSE(frame()) << bad;
        EXPECT_EQ(answers.texts(), (std::vector<std::string>{"Save track?", "Cant't save the track."}));
    }

    // The track is intact: a good name saves it whole.
    answers.savePath = path;
    answers.boxAnswers = {IDYES};
    keyDown[VK_ESCAPE] = true;
    EXPECT_TRUE(frame());
    EXPECT_EQ(readBytes(path),
              trackBytes(-1.0, {-100, 0}, {100, 0}, {{{-50, 200}, {50, 200}, {0, 300}}}, {{1, 2}, {50, 1}}));
    std::filesystem::remove_all(dir);
}

// Every kind of change, undone to the loaded file and redone to the edited
// one, byte for byte; what the history refuses; its bounds.
TEST_F(EditorInput, UndoAndRedoRetraceEveryChangeByteForByte)
{
    const std::string dir = scratchFolder("undo");
    const std::string loaded = dir + "/loaded.vlt";
    writeBytes(loaded, trackBytes(-1, {-2000, 1000}, {2000, 1000},
                                  {{{-500, -100}, {500, -100}, {0, 200}}, {{1000, 0}, {1100, 0}, {1050, 50}}},
                                  {{0, 300}, {100, 300}}));
    start(loaded);

    drawPolygon({{-300, -500}, {300, -500}, {0, -400}});
    EXPECT_EQ(undoStepCount(), 1u);   // the vertices fold into one step
    press(VK_NEXT);                   // the first polygon
    press(VK_DELETE);
    mouseAt(10, 10);
    keyDown['M'] = true;
    frame();
    mouseAt(33.3, 47.1);
    frame();
    control('Z');                     // refused while M is held
    EXPECT_EQ(undoStepCount(), 2u);
    mouseAt(71.7, -12.9);
    frame();
    keyDown['M'] = false;
    frame();
    press(VK_TAB);
    click(-700, 700);
    press(VK_NEXT);
    press(VK_DELETE);
    press(VK_TAB);
    keyDown['S'] = true;
    frame();
    keyDown['S'] = false;
    click(-1500.5, 1200.25);
    keyDown['F'] = true;
    frame();
    keyDown['F'] = false;
    click(1500.75, 900.5);
    EXPECT_EQ(undoStepCount(), 7u);
    ASSERT_TRUE(saveAs(dir + "/edited.vlt"));
    const Bytes edited = readBytes(dir + "/edited.vlt");

    // A failed save changes nothing in the history.
    EXPECT_FALSE(saveAs(dir + "/missing/x.vlt"));
    for (int i = 0; i < 7; ++i) {
        control('Z');
    }
    EXPECT_EQ(undoStepCount(), 0u);
    EXPECT_EQ(redoStepCount(), 7u);
    control('Z');
    ASSERT_TRUE(saveAs(dir + "/undone.vlt"));
    EXPECT_EQ(readBytes(dir + "/undone.vlt"), readBytes(loaded));
    for (int i = 0; i < 7; ++i) {
        control(i % 2 == 0 ? 'Y' : 'Z', i % 2 != 0);
    }
    ASSERT_TRUE(saveAs(dir + "/redone.vlt"));
    EXPECT_EQ(readBytes(dir + "/redone.vlt"), edited);

    // A new change clears what was left to redo.
    control('Z');
    press(VK_TAB);
    click(-800, 800);
    EXPECT_EQ(redoStepCount(), 0u);
    control('Y');
    EXPECT_EQ(finishPoint->x, 2000.0);

    // Hundreds of steps back; the oldest go beyond the bound.
    const int32_t before = appleCount;
    for (int i = 0; i < 250; ++i) {
        click(i, -900);
    }
    for (int i = 0; i < 250; ++i) {
        control('Z');
    }
    EXPECT_EQ(appleCount, before);
    for (size_t i = 0; i < kHistorySteps + 50; ++i) {
        click(static_cast<double>(i), -900);
    }
    EXPECT_EQ(undoStepCount(), kHistorySteps);
    EXPECT_LE(historyBytes(), kHistoryBytes);
    std::filesystem::remove_all(dir);
}

TEST_F(EditorInput, BackspaceTakesBackTheLastVertexUntilNoPolygonIsLeft)
{
    start();
    drawPolygon({{0, 100}, {100, 100}, {50, 200}});
    Cpolygons* triangle = activePolygon;
    click(300, 100);
    click(400, 100);
    click(350, 200);
    mouseAt(500, 500);
    press(VK_BACK);
    EXPECT_EQ(polygonTail->polygon->count, 2);
    EXPECT_EQ(vertices(polygonTail), (std::vector<Point>{{300, 100}, {400, 100}, {500, 500}}));
    control('Y');   // placed again where it was
    EXPECT_EQ(vertices(polygonTail), (std::vector<Point>{{300, 100}, {400, 100}, {350, 200}, {500, 500}}));
    press(VK_BACK);
    press(VK_BACK);
    press(VK_BACK);
    EXPECT_FALSE(drawingPolygon);
    EXPECT_EQ(polygonTail->polygon, nullptr);
    EXPECT_EQ(activePolygon, triangle);
    EXPECT_EQ(polygonCount, 1);
    EXPECT_TRUE(cursorShown);
    press(VK_BACK);   // nothing is being drawn
    EXPECT_EQ(polygonCount, 1);
    EXPECT_EQ(undoStepCount(), 1u);

    // Redrawn from apple mode, it is drawn in polygon mode.
    press(VK_TAB);
    control('Y');
    EXPECT_EQ(editMode, PolygonMode);
    EXPECT_TRUE(drawingPolygon);
    EXPECT_EQ(appleCursor, nullptr);
    EXPECT_EQ(editorApples, nullptr);
    EXPECT_EQ(activePolygon, nullptr);
}

// --- loading ------------------------------------------------------------

TEST_F(EditorInput, ALoadedTrackIsFittedToTheDialogsWindowSize)
{
    const std::string dir = scratchFolder("fit");
    const std::string path = dir + "/fit.vlt";
    writeBytes(path, trackBytes(12.5, {-100, 0}, {300, 0},
                                {{{-500, -100}, {500, -100}, {0, 200}}, {{1000, 0}, {1100, 0}, {1050, 50}}},
                                {{0, 300}}));
    start(path);
    EXPECT_EQ(viewCentre.x, 300.0);
    EXPECT_EQ(viewCentre.y, 100.0);
    EXPECT_DOUBLE_EQ(viewZoom, 800.0 / 1600.0);   // 1600 across, 400 up and down
    EXPECT_EQ(polygonCount, 2);
    EXPECT_EQ(activePolygon, editorPolygons->next);
    EXPECT_EQ(activeApple, editorApples);
    EXPECT_EQ(editorBestTime, 12.5);

    // The window grows to its real size: the fit follows it until the view
    // is moved; Home fits the track again, with a margin.
    viewWidth = 1600;
    frame();
    EXPECT_DOUBLE_EQ(viewZoom, 1600.0 / 1600.0);   // the width decides
    press(VK_LEFT);
    viewWidth = 800;
    frame();
    EXPECT_FALSE(followingWindowSize());
    EXPECT_DOUBLE_EQ(viewZoom, 1.0);
    press(VK_HOME);
    EXPECT_DOUBLE_EQ(viewZoom, (800.0 - 2 * kFitMargin) / 1600.0);
    EXPECT_EQ(viewCentre.x, 300.0);
    EXPECT_EQ(viewCentre.y, 100.0);
    std::filesystem::remove_all(dir);
}

TEST_F(EditorInput, ATrackOnOneLineOrPointOpensWithAFiniteView)
{
    const std::string dir = scratchFolder("line");
    const std::string path = dir + "/line.vlt";
    struct Case {
        Point start, finish;
        double zoom;
    };
    const Case cases[] = {
        {{50, -100}, {50, 300}, 600.0 / 400.0},    // vertical line: the height decides
        {{-100, 20}, {300, 20}, 800.0 / 400.0},    // horizontal line: the width decides
        {{7, 7}, {7, 7}, 1.0},                      // one point
    };
    for (const Case& c : cases) {
        writeBytes(path, trackBytes(-1, c.start, c.finish, {}, {}));
        start(path);
        EXPECT_TRUE(std::isfinite(viewCentre.x) && std::isfinite(viewCentre.y));
        EXPECT_DOUBLE_EQ(viewZoom, c.zoom);
        frame();
        EXPECT_TRUE(std::isfinite(viewZoom));
        doneEditor();
    }
    std::filesystem::remove_all(dir);
}

TEST_F(EditorInput, AnUnreadableTrackIsReportedAndReleasedCleanly)
{
    const std::string dir = scratchFolder("cut");
    const std::string path = dir + "/cut.vlt";
    Bytes bytes = trackBytes(-1, {0, 0}, {1, 1}, {{{0, 0}, {1, 0}, {0, 1}}}, {});
    bytes.resize(bytes.size() - 10);
    writeBytes(path, bytes);
    trackPath = path;
    EXPECT_FALSE(initEditor());
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0].text, "Cant't load the track.");
    EXPECT_EQ(answers.messages[0].flags, 0x30u);
    doneEditor();
    EXPECT_EQ(editorPolygons, nullptr);
    EXPECT_EQ(startPoint, nullptr);
    trackPath = dir + "/missing.vlt";
    EXPECT_FALSE(initEditor());
    doneEditor();

    // Coordinates that are not numbers load; the view stays finite.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Bytes odd[] = {
        trackBytes(-1, {0, 0}, {1, 1}, {{{0, 0}, {nan, 5}, {100, 100}}, {{10, -10}, {-10, 10}, {10, 10}}}, {}),
        trackBytes(-1, {0, 0}, {1, 1}, {}, {{inf, 0}}),
        trackBytes(-1, {0, nan}, {1, 1}, {}, {}),
    };
    trackPath = path;
    for (const Bytes& b : odd) {
        writeBytes(path, b);
        answers.messages.clear();
        EXPECT_TRUE(initEditor());
        EXPECT_TRUE(answers.messages.empty());
        EXPECT_TRUE(std::isfinite(viewZoom) && viewZoom > 0.0);
        EXPECT_TRUE(std::isfinite(viewCentre.x) && std::isfinite(viewCentre.y));
        doneEditor();
    }
    std::filesystem::remove_all(dir);
}

} // namespace
