// The track editor's state, its set-up and release, saving, and drawing.
//
// One instance, as module globals: built by initEditor, released by
// doneEditor, changed by editorInput (EditorWindow.h) once per frame. Main
// thread only. polygonTail, activePolygon, activeApple and trackBounds are
// the ones that loadTrack leaves behind (model/TrackFile.h).
//
// The polygon list runs from editorPolygons to polygonTail. Every node
// before the tail holds a finished polygon; the tail is empty except while a
// polygon is being drawn, when it holds that polygon, whose chain ends with
// one uncounted vertex following the mouse (lastVertex->next). In AppleMode
// the apple list ends with appleCursor, which follows the mouse and is never
// counted, selected or written.
#pragma once

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/TrackFile.h"
#include "model/Vectors.h"
#include "physics/Motorbike.h"

#include <array>
#include <cstdint>

// editMode values.
enum : int32_t {
    PolygonMode = 1,   // draw, select, delete and move polygons
    AppleMode = 2,     // place, select and delete apples
    PlaceStart = 3,    // the start (and the bike) follows the mouse
    PlaceFinish = 4,   // the finish follows the mouse
    MovePolygon = 5,   // the active polygon follows the mouse while M is held
};

// The world rectangle.
inline constexpr double kEditorWorldLeft = -8000.0;
inline constexpr double kEditorWorldRight = 8000.0;
inline constexpr double kEditorWorldBottom = -6000.0;
inline constexpr double kEditorWorldTop = 6000.0;

extern int32_t editMode;
extern Cvector viewCentre;          // world point at the window's centre
extern double viewZoom;             // pixels per world unit
extern Cvector* startPoint;
extern Cvector* finishPoint;
extern Cmoto* editorMoto;           // stands at startPoint; drawn and tested only
extern Cpolygon* worldRectangle;    // drawn as an outline, never written
extern Cpolygons* editorPolygons;   // first node of the polygon list
extern int32_t polygonCount;        // finished polygons
extern bool drawingPolygon;
extern Cvertex* lastVertex;         // while drawing: the last placed vertex
extern Capples* editorApples;       // first apple
extern int32_t appleCount;          // placed apples (appleCursor not counted)
extern Capples* appleCursor;        // AppleMode: the apple following the mouse
extern Cvector moveAnchor;          // MovePolygon: the mouse's world point last frame
extern bool helpVisible;
extern double helpAlpha;            // 0 .. 0.8
extern bool cursorShown;
extern double editorBestTime;
extern bool drawnPolygonValid;      // the polygon being drawn passed the shape test

extern const std::array<const char*, 13> editorHelp;
// The keys beyond those, listed below them in the same way.
extern const std::array<const char*, 5> editorMoreHelp;

// Builds the state for a new track (trackPath empty) or the track at
// trackPath. False, after "Cant't load the track.", when it cannot be read.
bool initEditor();
// Centres the view on trackBounds and scales it so that they fit a window
// of width x height: the first view of a loaded track.
void fitViewToBounds(double width, double height);
// Releases whatever initEditor built; safe after a failed initEditor.
void doneEditor();
// Asks "Save track?", checks the bike, runs the save dialog and writes the
// track. True when the editor may end: saved, or the player answered No.
// A failed write reports "Cant't save the track." and changes nothing.
bool saveTrack();
// The bike at the start is clear of the polygons, no wheel or head centre
// lies inside the ground, and its head is inside the world; otherwise the
// player is told which, and false returns.
bool startFitToRide();
// Takes appleCursor off the apple list (AppleMode only).
void removeAppleCursor();
// Keep the editor's own effect on the cursor's show count at one step.
void showMouseCursor();
void hideMouseCursor();
// One picture of the editor (the caller cleared the buffer and presents it).
void drawEditor();
// Drops what drawEditor keeps between frames (a display list among it);
// call while the editor's GL context is current, before the window closes.
void releaseEditorDrawings();
