#include "editor/EditHistory.h"

#include "editor/Editor.h"
#include "editor/EditorWindow.h"
#include "model/TrackFile.h"

#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace {

enum class StepKind {
    PolygonAdded,
    PolygonRemoved,
    PolygonMoved,
    AppleAdded,
    AppleRemoved,
    StartMoved,
    FinishMoved,
    VertexPlaced,
};

// One change. `points` holds the side of the change that is not in the
// track now: the vertices (and `count`) of a polygon that is out of the
// list, the other position of a moved polygon, point or apple, or the
// position of a placed vertex. For a polygon or apple, `index` is its place
// in the list; for the first vertex of a polygon, the place of the polygon
// that was selected before drawing began (-1: none).
struct EditStep {
    StepKind kind;
    int32_t index = -1;
    int32_t count = 0;
    bool firstVertex = false;
    std::vector<Cvector> points;
};

struct Gesture {
    int32_t mode = 0;              // 0: none open
    const Cpolygons* node = nullptr;
    std::vector<Cvector> before;
};

std::deque<EditStep> undoSteps;   // back: the latest change
std::deque<EditStep> redoSteps;   // back: the next change to redo
size_t storedBytes = 0;
Gesture gesture;

size_t bytesOf(const EditStep& step)
{
    return sizeof(EditStep) + step.points.capacity() * sizeof(Cvector);
}

// Forgets the oldest steps until both bounds hold: the oldest undo step
// first, then the redo step that would be redone last.
void keepBounds()
{
    while (undoSteps.size() + redoSteps.size() > kHistorySteps || storedBytes > kHistoryBytes) {
        std::deque<EditStep>& from = undoSteps.empty() ? redoSteps : undoSteps;
        if (from.empty()) {
            break;
        }
        storedBytes -= bytesOf(from.front());
        from.pop_front();
    }
}

void clearRedo()
{
    for (const EditStep& step : redoSteps) {
        storedBytes -= bytesOf(step);
    }
    redoSteps.clear();
}

void push(EditStep step)
{
    clearRedo();
    storedBytes += bytesOf(step);
    undoSteps.push_back(std::move(step));
    keepBounds();
}

std::vector<Cvector> chainOf(const Cpolygon* polygon)
{
    std::vector<Cvector> points;
    for (const Cvertex* v = polygon->first; v != nullptr; v = v->next) {
        points.push_back(*v);
    }
    return points;
}

bool sameBits(const Cvector& a, const Cvector& b)
{
    return std::memcmp(&a.x, &b.x, sizeof a.x) == 0 && std::memcmp(&a.y, &b.y, sizeof a.y) == 0;
}

bool sameChain(const Cpolygon* polygon, const std::vector<Cvector>& points)
{
    size_t i = 0;
    for (const Cvertex* v = polygon->first; v != nullptr; v = v->next, ++i) {
        if (i >= points.size() || !sameBits(*v, points[i])) {
            return false;
        }
    }
    return i == points.size();
}

int32_t indexOfPolygon(const Cpolygons* node)
{
    int32_t index = 0;
    for (const Cpolygons* n = editorPolygons; n != nullptr; n = n->next, ++index) {
        if (n == node) {
            return index;
        }
    }
    return -1;
}

Cpolygons* polygonAt(int32_t index)
{
    Cpolygons* node = editorPolygons;
    for (int32_t i = 0; i < index && node != nullptr; ++i) {
        node = node->next;
    }
    return node;
}

int32_t indexOfApple(const Capples* apple)
{
    int32_t index = 0;
    for (const Capples* a = editorApples; a != nullptr; a = a->next, ++index) {
        if (a == apple) {
            return index;
        }
    }
    return -1;
}

// The apple now at `index`: a placed apple, appleCursor, or none at the end.
Capples* appleAt(int32_t index)
{
    Capples* apple = editorApples;
    for (int32_t i = 0; i < index && apple != nullptr; ++i) {
        apple = apple->next;
    }
    return apple;
}

// The polygon goes back into the list at its place and is selected.
void putPolygonIn(EditStep& step)
{
    if (editorPolygons == nullptr) {
        polygonTail = new Cpolygons();
        editorPolygons = polygonTail;
    }
    Cpolygons* at = polygonAt(step.index);
    if (at == nullptr) {
        at = polygonTail;
    }
    Cpolygon* polygon = new Cpolygon();
    Cvertex* last = nullptr;
    for (const Cvector& p : step.points) {
        Cvertex* v = new Cvertex(p.x, p.y);
        if (last == nullptr) {
            polygon->first = v;
        } else {
            last->next = v;
        }
        last = v;
    }
    polygon->count = step.count;
    Cpolygons* node = new Cpolygons();
    node->polygon = polygon;
    node->next = at;
    node->prev = at->prev;
    if (at->prev != nullptr) {
        at->prev->next = node;
    } else {
        editorPolygons = node;
    }
    at->prev = node;
    polygonCount = polygonCount + 1;
    activePolygon = node;
    std::vector<Cvector>().swap(step.points);
}

// The polygon at the step's place leaves the list; a selection on it moves
// on as Del moves it.
void takePolygonOut(EditStep& step)
{
    Cpolygons* node = polygonAt(step.index);
    if (node == nullptr || node->polygon == nullptr) {
        return;
    }
    step.points = chainOf(node->polygon);
    step.count = node->polygon->count;
    const bool selected = activePolygon == node;
    Cpolygons* neighbour = Cpolygons::removeNode(node, editorPolygons);
    if (selected) {
        activePolygon = neighbour;
    }
    polygonCount = polygonCount - 1;
}

void swapPolygonChain(EditStep& step)
{
    Cpolygons* node = polygonAt(step.index);
    if (node == nullptr || node->polygon == nullptr) {
        return;
    }
    size_t i = 0;
    for (Cvertex* v = node->polygon->first; v != nullptr && i < step.points.size(); v = v->next, ++i) {
        std::swap(v->x, step.points[i].x);
        std::swap(v->y, step.points[i].y);
    }
    activePolygon = node;
}

void putAppleIn(EditStep& step)
{
    Capples* at = appleAt(step.index);
    Capples* apple = new Capples(step.points[0].x, step.points[0].y);
    if (at != nullptr) {
        apple->next = at;
        apple->prev = at->prev;
        if (at->prev != nullptr) {
            at->prev->next = apple;
        } else {
            editorApples = apple;
        }
        at->prev = apple;
    } else if (editorApples == nullptr) {
        editorApples = apple;
    } else {
        Capples* last = editorApples;
        while (last->next != nullptr) {
            last = last->next;
        }
        last->next = apple;
        apple->prev = last;
    }
    appleCount = appleCount + 1;
    activeApple = apple;
}

void takeAppleOut(EditStep& step)
{
    Capples* apple = appleAt(step.index);
    if (apple == nullptr || apple == appleCursor) {
        return;
    }
    step.points.assign(1, *apple);
    removeApple(apple);
}

void swapPoint(Cvector& point, EditStep& step)
{
    std::swap(point, step.points[0]);
}

// The last placed vertex of the polygon being drawn goes; the mouse vertex
// after it goes with it and the removed vertex takes its role, so the chain
// keeps its one uncounted vertex. The first vertex ends the drawing.
void dropLastVertex(int32_t selectedBefore)
{
    Cpolygon* polygon = polygonTail->polygon;
    if (polygon->count <= 1) {
        delete polygon;
        polygonTail->polygon = nullptr;
        drawingPolygon = false;
        lastVertex = nullptr;
        Cpolygons* selected = selectedBefore >= 0 ? polygonAt(selectedBefore) : nullptr;
        activePolygon = (selected != nullptr && selected->polygon != nullptr) ? selected : nullptr;
        return;
    }
    Cvertex* before = polygon->first;
    while (before->next != lastVertex) {
        before = before->next;
    }
    delete lastVertex->next;
    lastVertex->next = nullptr;
    lastVertex = before;
    polygon->count = polygon->count - 1;
}

void placeAgain(const EditStep& step)
{
    const Cvector& at = step.points[0];
    if (drawingPolygon) {
        placeVertex(at);
        return;
    }
    if (editMode != PolygonMode) {
        removeAppleCursor();
        editMode = PolygonMode;
    }
    startPolygon(at);
}

// Applies one side of a step: undo takes the change back, redo makes it.
void apply(EditStep& step, bool undo)
{
    const bool putIn = (step.kind == StepKind::PolygonAdded || step.kind == StepKind::AppleAdded) != undo;
    switch (step.kind) {
    case StepKind::PolygonAdded:
    case StepKind::PolygonRemoved:
        if (putIn) {
            putPolygonIn(step);
        } else {
            takePolygonOut(step);
        }
        break;
    case StepKind::AppleAdded:
    case StepKind::AppleRemoved:
        if (putIn) {
            putAppleIn(step);
        } else {
            takeAppleOut(step);
        }
        break;
    case StepKind::PolygonMoved:
        swapPolygonChain(step);
        break;
    case StepKind::StartMoved:
        swapPoint(*startPoint, step);
        editorMoto->setPosition(startPoint->x, startPoint->y);
        break;
    case StepKind::FinishMoved:
        swapPoint(*finishPoint, step);
        break;
    case StepKind::VertexPlaced:
        if (undo) {
            dropLastVertex(step.firstVertex ? step.index : -1);
        } else {
            placeAgain(step);
        }
        break;
    }
}

// Moves the back step of `from` to the back of `to`, applying it.
bool moveStep(std::deque<EditStep>& from, std::deque<EditStep>& to, bool undo)
{
    if (from.empty() || gesture.mode != 0) {
        return false;
    }
    const bool vertex = from.back().kind == StepKind::VertexPlaced;
    // While drawing only the vertices of the polygon being drawn can change.
    if (drawingPolygon && !vertex) {
        return false;
    }
    // Vertex steps are undone only while their polygon is being drawn.
    if (undo && vertex && !drawingPolygon) {
        return false;
    }
    EditStep step = std::move(from.back());
    from.pop_back();
    storedBytes -= bytesOf(step);
    apply(step, undo);
    storedBytes += bytesOf(step);
    to.push_back(std::move(step));
    keepBounds();
    return true;
}

// The vertex steps of the polygon being drawn, at the back of the undo list.
void dropVertexSteps()
{
    while (!undoSteps.empty() && undoSteps.back().kind == StepKind::VertexPlaced) {
        storedBytes -= bytesOf(undoSteps.back());
        undoSteps.pop_back();
    }
    clearRedo();
}

void openGesture()
{
    gesture.mode = editMode;
    gesture.node = nullptr;
    gesture.before.clear();
    if (editMode == MovePolygon && activePolygon != nullptr) {
        gesture.node = activePolygon;
        gesture.before = chainOf(activePolygon->polygon);
    } else if (editMode == PlaceStart) {
        gesture.before.assign(1, *startPoint);
    } else if (editMode == PlaceFinish) {
        gesture.before.assign(1, *finishPoint);
    }
}

void closeGesture()
{
    EditStep step;
    bool moved = false;
    if (gesture.mode == MovePolygon && gesture.node != nullptr) {
        const int32_t index = indexOfPolygon(gesture.node);
        if (index >= 0 && gesture.node->polygon != nullptr && !sameChain(gesture.node->polygon, gesture.before)) {
            step.kind = StepKind::PolygonMoved;
            step.index = index;
            moved = true;
        }
    } else if (gesture.mode == PlaceStart && !sameBits(*startPoint, gesture.before[0])) {
        step.kind = StepKind::StartMoved;
        moved = true;
    } else if (gesture.mode == PlaceFinish && !sameBits(*finishPoint, gesture.before[0])) {
        step.kind = StepKind::FinishMoved;
        moved = true;
    }
    gesture.mode = 0;
    gesture.node = nullptr;
    if (moved) {
        step.points = std::move(gesture.before);
        push(std::move(step));
    }
    std::vector<Cvector>().swap(gesture.before);
}

bool isGestureMode(int32_t mode)
{
    return mode == MovePolygon || mode == PlaceStart || mode == PlaceFinish;
}

} // namespace

void clearEditHistory()
{
    undoSteps.clear();
    redoSteps.clear();
    storedBytes = 0;
    gesture = Gesture();
}

void recordPolygonStarted(const Cvector& at)
{
    EditStep step;
    step.kind = StepKind::VertexPlaced;
    step.firstVertex = true;
    step.index = activePolygon != nullptr ? indexOfPolygon(activePolygon) : -1;
    step.points.assign(1, at);
    push(std::move(step));
}

void recordVertexPlaced(const Cvector& at)
{
    EditStep step;
    step.kind = StepKind::VertexPlaced;
    step.points.assign(1, at);
    push(std::move(step));
}

void recordPolygonFinished(const Cpolygons* node)
{
    dropVertexSteps();
    EditStep step;
    step.kind = StepKind::PolygonAdded;
    step.index = indexOfPolygon(node);
    push(std::move(step));
}

void recordPolygonDropped()
{
    dropVertexSteps();
}

void recordPolygonRemoved(const Cpolygons* node)
{
    EditStep step;
    step.kind = StepKind::PolygonRemoved;
    step.index = indexOfPolygon(node);
    step.count = node->polygon->count;
    step.points = chainOf(node->polygon);
    push(std::move(step));
}

void recordAppleAdded(const Capples* apple)
{
    EditStep step;
    step.kind = StepKind::AppleAdded;
    step.index = indexOfApple(apple);
    push(std::move(step));
}

void recordAppleRemoved(const Capples* apple)
{
    EditStep step;
    step.kind = StepKind::AppleRemoved;
    step.index = indexOfApple(apple);
    step.points.assign(1, *apple);
    push(std::move(step));
}

void trackEditGestures()
{
    if (gesture.mode != 0 && gesture.mode != editMode) {
        closeGesture();
    }
    if (gesture.mode == 0 && isGestureMode(editMode)) {
        openGesture();
    }
}

bool undoEdit()
{
    return moveStep(undoSteps, redoSteps, true);
}

bool redoEdit()
{
    return moveStep(redoSteps, undoSteps, false);
}

bool removeLastVertex()
{
    if (!drawingPolygon) {
        return false;
    }
    if (!undoSteps.empty() && undoSteps.back().kind == StepKind::VertexPlaced) {
        return undoEdit();
    }
    // The history no longer holds this vertex: take it away all the same.
    dropLastVertex(-1);
    return true;
}

size_t undoStepCount()
{
    return undoSteps.size();
}

size_t redoStepCount()
{
    return redoSteps.size();
}

size_t historyBytes()
{
    return storedBytes;
}
