#include "editor/Editor.h"

#include "editor/Publish.h"

#include "editor/DrawCache.h"
#include "editor/EditHistory.h"
#include "editor/ViewFit.h"
#include "gfx/Tessellator.h"
#include "gfx/Text.h"
#include "model/Globals.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBox.h"
#include "platform/RenderWindow.h"

#include <GL/gl.h>

#include <cmath>
#include <limits>
#include <string>

int32_t editMode = PolygonMode;
Cvector viewCentre;
double viewZoom = 1.0;
Cvector* startPoint = nullptr;
Cvector* finishPoint = nullptr;
Cmoto* editorMoto = nullptr;
Cpolygon* worldRectangle = nullptr;
Cpolygons* editorPolygons = nullptr;
int32_t polygonCount = 0;
bool drawingPolygon = false;
Cvertex* lastVertex = nullptr;
Capples* editorApples = nullptr;
int32_t appleCount = 0;
Capples* appleCursor = nullptr;
Cvector moveAnchor;
bool helpVisible = false;
double helpAlpha = 0.0;
bool cursorShown = true;
double editorBestTime = -1.0;
bool drawnPolygonValid = true;

const std::array<const char*, 13> editorHelp = {
    "F1          Show this help",
    "Arrow keys  move the track view",
    "+/-         zoom",
    "Ctrl+LMB    move the center of the screen to the place of the cursor",
    "TAB         change between polygon and apple mode",
    "PgDown      next polygon/apple",
    "PgUp        previous polygon/apple",
    "Del         delete active polygon/apple",
    "M           move active polygon",
    "S           move start position",
    "F           move finish position",
    "LMB         add a vertex/add an apple/place a start or finish position",
    "RMB         finish the polygon",
};

const std::array<const char*, 5> editorMoreHelp = {
    "Ctrl+Z      undo",
    "Ctrl+Y      redo (also Ctrl+Shift+Z)",
    "Backspace   remove the last vertex of the polygon",
    "Home        show the whole track",
    "F5 / F6     test ride / publish the track on the hub (needs a finish of your own)",
};

namespace {

bool tessellatorCreated = false;
// The fill and the whole-track checks, kept between frames.
CeditorDrawCache drawCache;

// (a + b) / 2, without overflowing for huge coordinates; 0 when not finite.
double middle(double a, double b)
{
    double m = (a + b) / 2;
    if (!std::isfinite(m)) {
        m = a / 2 + b / 2;
    }
    return std::isfinite(m) ? m : 0.0;
}

} // namespace

// A bounds extent of zero (every point on one vertical or horizontal line,
// or a single point) gives no fit in that direction; the other direction
// decides, or zoom 1 when neither does. The view is always finite.
void fitViewToBounds(double width, double height)
{
    const double spanX = trackBounds.maxX - trackBounds.minX;
    const double spanY = trackBounds.maxY - trackBounds.minY;
    double zoom = std::numeric_limits<double>::infinity();
    if (spanX > 0.0 && std::isfinite(spanX)) {
        zoom = width / spanX;
    }
    if (spanY > 0.0 && std::isfinite(spanY) && height / spanY < zoom) {
        zoom = height / spanY;
    }
    if (!std::isfinite(zoom) || !(zoom > 0.0)) {
        zoom = 1.0;
    }
    viewZoom = zoom;
    viewCentre.x = middle(trackBounds.minX, trackBounds.maxX);
    viewCentre.y = middle(trackBounds.minY, trackBounds.maxY);
}

bool initEditor()
{
    // Nothing of an earlier run (or of the game, which also loads tracks)
    // may survive into this one.
    editorPolygons = nullptr;
    polygonTail = nullptr;
    activePolygon = nullptr;
    editorApples = nullptr;
    activeApple = nullptr;
    appleCursor = nullptr;
    lastVertex = nullptr;
    startPoint = nullptr;
    finishPoint = nullptr;
    worldRectangle = nullptr;
    editorMoto = nullptr;
    polygonCount = 0;
    appleCount = 0;
    editorBestTime = -1.0;
    drawnPolygonValid = true;
    tessellatorCreated = false;

    if (trackPath.empty()) {
        startPoint = new Cvector(-100.0, 0.0);
        finishPoint = new Cvector(100.0, 0.0);
        viewZoom = 1.0;
        viewCentre.setXY(0.0, 0.0);
    } else {
        if (!loadTrack(trackPath, startPoint, finishPoint, polygonCount, editorPolygons, appleCount,
                       editorApples, editorBestTime)) {
            messageBox("Cant't load the track.", "Error", MB_ICONEXCLAMATION);
            return false;
        }
        fitViewToBounds(modeWidth, modeHeight);
    }
    startFollowingWindowSize(!trackPath.empty(), modeWidth, modeHeight);
    clearEditHistory();

    leftHeld = false;
    rightHeld = false;
    drawingPolygon = false;
    helpVisible = false;
    editMode = PolygonMode;
    helpAlpha = 0.8;

    createTessellator();
    tessellatorCreated = true;

    worldRectangle = new Cpolygon();
    worldRectangle->addVertex(kEditorWorldLeft, kEditorWorldBottom);
    worldRectangle->addVertex(kEditorWorldRight, kEditorWorldBottom);
    worldRectangle->addVertex(kEditorWorldRight, kEditorWorldTop);
    worldRectangle->addVertex(kEditorWorldLeft, kEditorWorldTop);

    glLineWidth(3.0f);

    closeRequested = false;
    cursorShown = true;

    editorMoto = new Cmoto(startPoint->x, startPoint->y);
    editorMoto->setPosition(startPoint->x, startPoint->y);
    return true;
}

void doneEditor()
{
    // Every way out passes saveTrack, which shows the cursor; this keeps the
    // show count balanced whatever ended the editor.
    showMouseCursor();
    releaseEditorDrawings();
    if (tessellatorCreated) {
        deleteTessellator();
        tessellatorCreated = false;
    }
    delete editorPolygons;   // the whole list with its polygons
    editorPolygons = nullptr;
    polygonTail = nullptr;
    activePolygon = nullptr;
    lastVertex = nullptr;
    delete editorApples;     // the whole list, appleCursor included
    editorApples = nullptr;
    activeApple = nullptr;
    appleCursor = nullptr;
    delete startPoint;
    startPoint = nullptr;
    delete finishPoint;
    finishPoint = nullptr;
    delete worldRectangle;
    worldRectangle = nullptr;
    delete editorMoto;
    editorMoto = nullptr;
    drawingPolygon = false;
    polygonCount = 0;
    appleCount = 0;
    clearEditHistory();
}

bool saveTrack()
{
    showMouseCursor();
    keyDown[VK_ESCAPE] = false;
    if (drawingPolygon) {
        return false;
    }
    const int answer = messageBox("Save track?", "Velto", MB_YESNOCANCEL | MB_ICONQUESTION | MB_TASKMODAL);
    if (answer == IDNO) {
        return true;
    }
    if (answer != IDYES) {
        return false;
    }
    if (!startFitToRide()) {
        return false;
    }
    std::string path = trackPath;
    if (!runSaveDialog(path)) {
        return false;
    }
    // The apple cursor is the last element of the list and appleCount
    // leaves it out, so it is never written; it is taken off the list only
    // once the track is safely saved, and a failed save changes nothing.
    if (!writeTrack(path, -1.0, *startPoint, *finishPoint, polygonCount, editorPolygons, appleCount,
                    editorApples)) {
        messageBox("Cant't save the track.", "Error", MB_ICONEXCLAMATION);
        return false;
    }
    editorBestTime = -1.0;
    removeAppleCursor();
    return true;
}

bool startFitToRide()
{
    if (editorPolygons != nullptr && editorMoto->touchesPolygons(editorPolygons)) {
        messageBox("Motorbike collides with some polygons", "Error", MB_ICONEXCLAMATION | MB_TASKMODAL);
        return false;
    }
    // A bike wholly inside the ground touches no edge, yet cannot ride: the
    // first step would crash it.
    for (const Cball* ball : {editorMoto->frontWheel, editorMoto->rearWheel, editorMoto->head}) {
        if (insideGround(editorPolygons, ball->position.x, ball->position.y)) {
            messageBox("Motorbike is inside the ground", "Error", MB_ICONEXCLAMATION | MB_TASKMODAL);
            return false;
        }
    }
    if (editorMoto->head->outsideRect(kEditorWorldLeft, kEditorWorldRight, kEditorWorldBottom,
                                      kEditorWorldTop)) {
        messageBox("Motorbike is out of bounds", "Error", MB_ICONEXCLAMATION | MB_TASKMODAL);
        return false;
    }
    return true;
}

void removeAppleCursor()
{
    if (editMode != AppleMode || appleCursor == nullptr) {
        return;
    }
    if (appleCursor->prev != nullptr) {
        appleCursor->prev->next = nullptr;
    } else {
        editorApples = nullptr;
    }
    delete appleCursor;   // it is the last apple: nothing follows it
    appleCursor = nullptr;
}

void showMouseCursor()
{
    if (!cursorShown) {
        showCursor(true);
        cursorShown = true;
    }
}

void hideMouseCursor()
{
    if (cursorShown) {
        showCursor(false);
        cursorShown = false;
    }
}

namespace {

// The help's name for the draw cache's text mask.
constexpr int kHelpText = 1;

// The help's lines in the current colour: 5 pixels from the left edge, the
// last 20 pixels above the bottom, 15 pixels apart, 20 pixels high.
void printHelp()
{
    const double w = viewWidth;
    const double h = viewHeight;
    const double z = viewZoom;
    const double textX = viewCentre.x - (w - 10) / (2 * z);
    const double step = 15 / z;
    const double lines = static_cast<double>(editorHelp.size() + editorMoreHelp.size());
    double y = viewCentre.y - (h - 10) / (2 * z) + lines * step;
    for (const char* line : editorHelp) {
        printText(line, false, textX, y, 20 / z);
        y = y - step;
    }
    for (const char* line : editorMoreHelp) {
        printText(line, false, textX, y, 20 / z);
        y = y - step;
    }
}

} // namespace

void releaseEditorDrawings()
{
    drawCache.release();
}

void drawEditor()
{
    const double w = viewWidth;
    const double h = viewHeight;
    const double z = viewZoom;
    const double cx = viewCentre.x;
    const double cy = viewCentre.y;

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(cx - w / (2 * z), cx + w / (2 * z), cy - h / (2 * z), cy + h / (2 * z), -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    if (helpAlpha > 0) {
        drawCache.prepareText(kHelpText, &printHelp, cx - w / (2 * z), cx + w / (2 * z), cy - h / (2 * z),
                              cy + h / (2 * z), viewWidth, viewHeight);
    }

    // The world rectangle's outline, all polygons as one under the odd
    // winding rule (a polygon inside another is a hole), and the active
    // polygon's outline, kept between frames.
    drawCache.update(editorPolygons);
    const bool outlined = (editMode == PolygonMode || editMode == MovePolygon) && activePolygon != nullptr;
    drawCache.drawGround(worldRectangle, editorPolygons, outlined ? activePolygon->polygon : nullptr,
                         cx - w / (2 * z), cx + w / (2 * z), cy - h / (2 * z), cy + h / (2 * z), viewWidth,
                         viewHeight);

    if (drawingPolygon) {
        drawnPolygonValid = drawCache.polygonValid(polygonTail->polygon);
    } else {
        drawnPolygonValid = true;
    }

    // Warnings stay at their pixel place and size at any zoom.
    glColor4f(1.0f, 0.0f, 0.0f, 0.7f);
    const double textX = cx - (w - 10) / (2 * z);
    if (!drawnPolygonValid) {
        printText("Invalid polygon", false, textX, cy + (h - 40) / (2 * z), 20 / z);
    }
    if (editorPolygons != nullptr && drawCache.bikeTouches(*editorMoto, editorPolygons)) {
        printText("Intersection with polygons", false, textX, cy + (h - 70) / (2 * z), 20 / z);
    }
    // What became of F6.
    const std::string published = publishLine();
    if (!published.empty()) {
        const double top = cy + (h - 100) / (2 * z);
        glColor4f(0.0f, 0.0f, 0.0f, 0.6f);
        glBegin(GL_QUADS);
        glVertex2d(textX - 5 / z, top - 8 / z);
        glVertex2d(textX + (textWidth(published, 18) + 10) / z, top - 8 / z);
        glVertex2d(textX + (textWidth(published, 18) + 10) / z, top + 22 / z);
        glVertex2d(textX - 5 / z, top + 22 / z);
        glEnd();
        glColor4f(1.0f, 0.9f, 0.3f, 0.95f);
        printText(published, false, textX, top, 18 / z);
    }

    glColor4f(0.7f, 0.7f, 0.7f, 0.7f);
    drawApples(editorApples, false);
    if (editMode == AppleMode) {
        glColor4f(0.7f, 0.0f, 0.0f, 0.7f);
        drawApple(activeApple, false);
    }

    // The bike at the start, and the finish.
    glColor4f(0.7f, 0.7f, 0.7f, 0.7f);
    const Cball& head = *editorMoto->head;
    const Cball& front = *editorMoto->frontWheel;
    const Cball& rear = *editorMoto->rearWheel;
    drawCircle(head.position, head.radius);
    printText("S", true, head.position.x, head.position.y - 10, 40);
    drawCircle(front.position, front.radius);
    drawCircle(rear.position, rear.radius);
    glBegin(GL_LINES);
    glVertex2d(startPoint->x, startPoint->y);
    glVertex2d(front.position.x, front.position.y);
    glVertex2d(startPoint->x, startPoint->y);
    glVertex2d(rear.position.x, rear.position.y);
    glVertex2d(startPoint->x, startPoint->y);
    glVertex2d(head.position.x, head.position.y);
    glEnd();
    drawCircle(*finishPoint, 20);
    printText("F", true, finishPoint->x, finishPoint->y - 14, 50);

    if (helpAlpha > 0) {
        drawCache.drawText(kHelpText, &printHelp, static_cast<float>(helpAlpha));
    }

    if (helpVisible) {
        helpAlpha = helpAlpha + 0.1;
    } else {
        helpAlpha = helpAlpha - 0.01;
    }
    if (helpAlpha > 0.8) {
        helpAlpha = 0.8;
    }
    if (helpAlpha < 0) {
        helpAlpha = 0;
    }
}
