// The editor's undo history: every change to the track, kept as what
// changed, so that Ctrl+Z takes changes back one at a time and Ctrl+Y (or
// Ctrl+Shift+Z) makes them again.
//
// A step holds the one thing it touched: a polygon's vertices with its
// count, an apple's or a point's position, or one vertex of the polygon
// being drawn. Polygons and apples are found again by their place in the
// list, so a step never points into the track. A step stores the side of
// the change that is not in the track right now, and undoing or redoing it
// swaps the two sides: restored values are the very doubles that were
// there, and a track saved after undoing everything is the one loaded.
//
// Bounds: the undo and redo lists together hold at most kHistorySteps steps
// and kHistoryBytes bytes; the oldest steps are forgotten first. A new
// change clears the redo list.
//
// While a polygon is being drawn each placed vertex is a step of its own;
// when the polygon is finished those steps become one (the polygon added),
// or none when the polygon is dropped as invalid.
//
// Moves of the start, the finish and a polygon are gestures: the step is
// taken when the mode that moves them ends, never per frame. Undo and redo
// are refused while such a mode runs (M, S or F held, or a placement not
// yet ended by a click).
//
// Main thread only; works on the editor state of Editor.h.
#pragma once

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/Vectors.h"

#include <cstddef>
#include <cstdint>

inline constexpr size_t kHistorySteps = 1000;
inline constexpr size_t kHistoryBytes = size_t{32} << 20;

// Forgets every step and any open gesture (a new or loaded track).
void clearEditHistory();

// Records, made by the commands as they change the track:
// a left press starts a polygon at `at` (call before the selection is cleared);
void recordPolygonStarted(const Cvector& at);
// a left press places a further vertex at `at`;
void recordVertexPlaced(const Cvector& at);
// the polygon being drawn was finished and now stands in `node`;
void recordPolygonFinished(const Cpolygons* node);
// the polygon being drawn was dropped as invalid;
void recordPolygonDropped();
// `node` is about to be deleted;
void recordPolygonRemoved(const Cpolygons* node);
// `apple` was just placed / is about to be deleted.
void recordAppleAdded(const Capples* apple);
void recordAppleRemoved(const Capples* apple);

// Opens and closes the gestures of MovePolygon, PlaceStart and PlaceFinish.
// Called once per frame after the mode changes of the frame and before the
// mouse is followed.
void trackEditGestures();

// Takes back the latest change / makes the latest undone change again.
// False, with nothing changed, when there is none or a gesture is open.
bool undoEdit();
bool redoEdit();

// Backspace while drawing: the last placed vertex goes (it can be redone).
// With none left, drawing ends as if it had never begun. False when no
// polygon is being drawn.
bool removeLastVertex();

// For tests and the bounds.
size_t undoStepCount();
size_t redoStepCount();
size_t historyBytes();
