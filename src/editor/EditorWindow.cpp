#include "editor/EditorWindow.h"

#include "editor/EditHistory.h"
#include "editor/Publish.h"
#include "editor/Editor.h"
#include "editor/TestRide.h"
#include "editor/ViewFit.h"
#include "model/Globals.h"
#include "platform/RenderWindow.h"

#include <GL/gl.h>

#include <thread>
#include <utility>

namespace {

EditorFrameHook frameHook;

// A key of the kind "press": acted on once per key-down, so its entry is
// cleared when it is seen.
bool pressed(int virtualKey)
{
    return keyDown[virtualKey].exchange(false);
}

bool held(int virtualKey)
{
    return keyDown[virtualKey].load();
}

void deleteActivePolygon()
{
    recordPolygonRemoved(activePolygon);
    activePolygon = Cpolygons::removeNode(activePolygon, editorPolygons);
    polygonCount = polygonCount - 1;
}

void deleteActiveApple()
{
    recordAppleRemoved(activeApple);
    removeApple(activeApple);
}

void selectPrevious()
{
    if (editMode == PolygonMode && activePolygon != nullptr) {
        if (activePolygon->prev != nullptr) {
            activePolygon = activePolygon->prev;
        } else {
            Cpolygons* last = activePolygon;
            while (last->next != nullptr && last->next->polygon != nullptr) {
                last = last->next;
            }
            activePolygon = last;
        }
    } else if (editMode == AppleMode && activeApple != nullptr) {
        if (activeApple->prev != nullptr) {
            activeApple = activeApple->prev;
        } else {
            Capples* last = activeApple;
            while (last->next != nullptr && last->next != appleCursor) {
                last = last->next;
            }
            activeApple = last;
        }
    }
}

void selectNext()
{
    if (editMode == PolygonMode && activePolygon != nullptr) {
        if (activePolygon->next != nullptr && activePolygon->next->polygon != nullptr) {
            activePolygon = activePolygon->next;
        } else {
            activePolygon = editorPolygons;
        }
    } else if (editMode == AppleMode && activeApple != nullptr) {
        if (activeApple->next != nullptr && activeApple->next != appleCursor) {
            activeApple = activeApple->next;
        } else {
            activeApple = editorApples;
        }
    }
}

void finishPolygon()
{
    drawingPolygon = false;
    delete lastVertex->next;
    lastVertex->next = nullptr;
    lastVertex = nullptr;
    if (polygonTail->polygon->isValid()) {
        activePolygon = polygonTail;
        Cpolygons* node = new Cpolygons();
        polygonTail->next = node;
        node->prev = polygonTail;
        polygonTail = node;
        polygonCount = polygonCount + 1;
        recordPolygonFinished(activePolygon);
    } else {
        activePolygon = polygonTail->prev;
        delete polygonTail->polygon;
        polygonTail->polygon = nullptr;
        recordPolygonDropped();
    }
}

void dropApple(const Cvector& at)
{
    Capples* apple = new Capples(at.x, at.y);
    appleCursor->next = apple;
    activeApple = appleCursor;
    apple->prev = appleCursor;
    appleCursor = apple;
    appleCount = appleCount + 1;
    recordAppleAdded(activeApple);
}

void addAppleCursor(const Cvector& at)
{
    appleCursor = new Capples(at.x, at.y);
    if (editorApples == nullptr) {
        editorApples = appleCursor;
    } else {
        Capples* last = editorApples;
        while (last->next != nullptr) {
            last = last->next;
        }
        last->next = appleCursor;
        appleCursor->prev = last;
    }
}

void clampView()
{
    const double w = viewWidth;
    const double h = viewHeight;
    if (w / (2 * viewZoom) > 8000) {
        viewZoom = w / 16000;
    }
    if (h / (2 * viewZoom) > 6000) {
        viewZoom = h / 12000;
    }
    if (viewZoom > 1000) {
        viewZoom = 1000;
    }
    if (viewCentre.x < kEditorWorldLeft) {
        viewCentre.x = kEditorWorldLeft;
    }
    if (viewCentre.x > kEditorWorldRight) {
        viewCentre.x = kEditorWorldRight;
    }
    if (viewCentre.y < kEditorWorldBottom) {
        viewCentre.y = kEditorWorldBottom;
    }
    if (viewCentre.y > kEditorWorldTop) {
        viewCentre.y = kEditorWorldTop;
    }
}

} // namespace

void removeApple(Capples* apple)
{
    Capples* following = apple->next;
    Capples* preceding = apple->prev;
    if (preceding != nullptr) {
        preceding->next = following;
    } else {
        editorApples = following;
    }
    if (following != nullptr) {
        following->prev = preceding;
    }
    if (activeApple == apple) {
        activeApple = (following != nullptr && following != appleCursor) ? following : preceding;
    }
    apple->next = nullptr;   // it owns its next: free it alone
    apple->prev = nullptr;
    delete apple;
    appleCount = appleCount - 1;
}

void startPolygon(const Cvector& at)
{
    drawingPolygon = true;
    activePolygon = nullptr;
    if (polygonTail == nullptr) {
        polygonTail = new Cpolygons();
        editorPolygons = polygonTail;
    }
    Cpolygon* polygon = new Cpolygon();
    polygonTail->polygon = polygon;
    polygon->first = new Cvertex(at.x, at.y);
    polygon->count = 1;
    lastVertex = polygon->first;
    lastVertex->next = new Cvertex(at.x, at.y);   // the mouse vertex
}

void placeVertex(const Cvector& at)
{
    polygonTail->polygon->count = polygonTail->polygon->count + 1;
    lastVertex = lastVertex->next;
    lastVertex->setXY(at.x, at.y);
    lastVertex->next = new Cvertex(at.x, at.y);
}

void setEditorFrameHook(EditorFrameHook hook)
{
    frameHook = std::move(hook);
}

bool editorInput()
{
    followWindowSize();
    const double panStep = held(VK_SHIFT) ? 0.2 : 1.0;

    if (pressed(VK_SUBTRACT)) {
        viewZoom = viewZoom / (1 + panStep);
    }
    if (pressed(VK_ADD)) {
        viewZoom = viewZoom * (1 + panStep);
    }

    if (pressed(VK_LEFT)) {
        viewCentre.x = viewCentre.x - 100 * panStep / viewZoom;
    }
    if (pressed(VK_RIGHT)) {
        viewCentre.x = viewCentre.x + 100 * panStep / viewZoom;
    }
    if (pressed(VK_UP)) {
        viewCentre.y = viewCentre.y + 100 * panStep / viewZoom;
    }
    if (pressed(VK_DOWN)) {
        viewCentre.y = viewCentre.y - 100 * panStep / viewZoom;
    }

    // The one mouse point of the rest of the frame.
    const double w = viewWidth;
    const double h = viewHeight;
    const Cvector mouseWorld((mouseX - w / 2) / viewZoom + viewCentre.x,
                             (h / 2 - mouseY) / viewZoom + viewCentre.y);

    if (pressed(VK_DELETE)) {
        if (editMode == PolygonMode && activePolygon != nullptr) {
            deleteActivePolygon();
        } else if (editMode == AppleMode && activeApple != nullptr) {
            deleteActiveApple();
        }
    }
    if (pressed(VK_PRIOR)) {
        selectPrevious();
    }
    if (pressed(VK_NEXT)) {
        selectNext();
    }

    if (pressed(VK_TAB)) {
        removeAppleCursor();
        if (!drawingPolygon && editMode != MovePolygon) {
            editMode = editMode + 1;
            if (editMode > AppleMode) {
                editMode = PolygonMode;
            }
            if (editMode == AppleMode) {
                addAppleCursor(mouseWorld);
            }
        }
    }
    if (held('S')) {
        removeAppleCursor();
        if (!drawingPolygon) {
            editMode = PlaceStart;
        }
    }
    if (held('F')) {
        removeAppleCursor();
        if (!drawingPolygon) {
            editMode = PlaceFinish;
        }
    }
    if (held('M')) {
        if (editMode == PolygonMode && activePolygon != nullptr) {
            moveAnchor = mouseWorld;
            editMode = MovePolygon;
        }
    } else if (editMode == MovePolygon) {
        editMode = PolygonMode;
    }

    if (pressed(VK_F1)) {
        helpVisible = !helpVisible;
    }

    if (held(VK_ESCAPE)) {
        if (saveTrack()) {
            return true;
        }
    }

    if ((mouseButtons & MK_LBUTTON) == 0) {
        leftHeld = false;
    } else if (!leftHeld) {
        leftHeld = true;
        if (held(VK_CONTROL)) {
            viewCentre = mouseWorld;
        } else if (editMode == PolygonMode && !drawingPolygon) {
            recordPolygonStarted(mouseWorld);
            startPolygon(mouseWorld);
        } else if (editMode == PolygonMode) {
            placeVertex(mouseWorld);
            recordVertexPlaced(mouseWorld);
        } else if (editMode == AppleMode) {
            dropApple(mouseWorld);
        } else if (editMode == PlaceStart || editMode == PlaceFinish) {
            keyDown[VK_TAB] = true;   // back to PolygonMode next frame
        }
    }

    if ((mouseButtons & MK_RBUTTON) == 0) {
        rightHeld = false;
    } else if (!rightHeld) {
        if (drawingPolygon) {
            finishPolygon();
        }
        rightHeld = true;
    }

    // Keys beyond the commands above.
    trackEditGestures();
    const bool control = held(VK_CONTROL);
    if (pressed('Z') && control) {
        if (held(VK_SHIFT)) {
            redoEdit();
        } else {
            undoEdit();
        }
    }
    if (pressed('Y') && control) {
        redoEdit();
    }
    if (pressed(VK_BACK)) {
        removeLastVertex();
    }
    if (pressed(VK_HOME)) {
        fitViewToTrack();
    }
    if (pressed(VK_F5)) {
        requestTestRide();
    }
    if (pressed(VK_F6)) {
        publishKey();
    }
    noteViewCommands();

    clampView();

    if (editMode == PolygonMode && !drawingPolygon) {
        showMouseCursor();
    } else {
        hideMouseCursor();
    }

    if (drawingPolygon) {
        lastVertex->next->setXY(mouseWorld.x, mouseWorld.y);
        return false;
    }
    switch (editMode) {
    case AppleMode:
        if (appleCursor != nullptr) {
            appleCursor->setXY(mouseWorld.x, mouseWorld.y);
        }
        break;
    case PlaceStart:
        startPoint->setXY(mouseWorld.x, mouseWorld.y);
        editorMoto->setPosition(startPoint->x, startPoint->y);
        break;
    case PlaceFinish:
        finishPoint->setXY(mouseWorld.x, mouseWorld.y);
        break;
    case MovePolygon:
        if (activePolygon != nullptr) {
            activePolygon->polygon->translate(mouseWorld.x - moveAnchor.x, mouseWorld.y - moveAnchor.y);
        }
        moveAnchor = mouseWorld;
        break;
    default:
        break;
    }
    return false;
}

bool editorFrame()
{
    const bool result = editorInput();
    if (windowActive) {
        glClear(GL_COLOR_BUFFER_BIT);
        drawEditor();
        if (frameHook) {
            frameHook();
        }
        presentFrame();
    } else if (frameHook) {
        frameHook();
    }
    return result;
}

void runEditor()
{
    clearKeys();
    takeTestRideRequest();
    clearPublishLine();
    bool done = false;
    if (!openRenderWindow("Velto", modeWidth, modeHeight, false)) {
        return;
    }
    if (!initEditor()) {
        done = true;
    } else {
        showRenderWindow();
    }
    while (!done) {
        if (closeRequested) {
            closeRequested = false;
            if (saveTrack()) {
                postQuitMessage();
            }
        }
        const PumpResult message = pumpMessage();
        if (message == PumpResult::Quit) {
            done = true;
        } else if (message == PumpResult::Empty) {
            if (editorFrame()) {
                done = true;
            } else if (takeTestRideRequest() && !runTestRide()) {
                // No window to come back to: the track is saved, or let go,
                // as when the editor is left.
                saveTrack();
                done = true;
            }
        }
        std::this_thread::yield();
    }
    doneEditor();
    closeRenderWindow();
}
