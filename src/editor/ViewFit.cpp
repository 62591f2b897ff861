#include "editor/ViewFit.h"

#include "editor/Editor.h"
#include "model/Globals.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool following = false;
int fittedWidth = 0;
int fittedHeight = 0;
double fittedZoom = 0.0;
Cvector fittedCentre;

struct Extent {
    double minX = std::numeric_limits<double>::infinity();
    double maxX = -std::numeric_limits<double>::infinity();
    double minY = std::numeric_limits<double>::infinity();
    double maxY = -std::numeric_limits<double>::infinity();

    void add(const Cvector& p)
    {
        if (std::isfinite(p.x)) {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
        }
        if (std::isfinite(p.y)) {
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
    }
};

// (a + b) / 2 without overflowing for huge coordinates.
double middle(double a, double b)
{
    const double m = a / 2 + b / 2;
    return std::isfinite(m) ? m : 0.0;
}

} // namespace

void fitViewToTrack()
{
    Extent e;
    e.add(*startPoint);
    e.add(*finishPoint);
    // The mouse vertex of a polygon being drawn is not part of the track.
    const Cvertex* mouseVertex = drawingPolygon && lastVertex != nullptr ? lastVertex->next : nullptr;
    for (const Cpolygons* node = editorPolygons; node != nullptr; node = node->next) {
        if (node->polygon == nullptr) {
            continue;
        }
        for (const Cvertex* v = node->polygon->first; v != nullptr && v != mouseVertex; v = v->next) {
            e.add(*v);
        }
    }
    for (const Capples* a = editorApples; a != nullptr && a != appleCursor; a = a->next) {
        e.add(*a);
    }

    const double w = std::max(1.0, viewWidth - 2 * kFitMargin);
    const double h = std::max(1.0, viewHeight - 2 * kFitMargin);
    const double spanX = e.maxX - e.minX;
    const double spanY = e.maxY - e.minY;
    double zoom = std::numeric_limits<double>::infinity();
    if (spanX > 0.0 && std::isfinite(spanX)) {
        zoom = w / spanX;
    }
    if (spanY > 0.0 && std::isfinite(spanY)) {
        zoom = std::min(zoom, h / spanY);
    }
    if (std::isfinite(zoom) && zoom > 0.0) {
        viewZoom = zoom;
    }
    if (e.minX <= e.maxX) {
        viewCentre.x = middle(e.minX, e.maxX);
    }
    if (e.minY <= e.maxY) {
        viewCentre.y = middle(e.minY, e.maxY);
    }
}

void startFollowingWindowSize(bool follow, int width, int height)
{
    following = follow;
    fittedWidth = width;
    fittedHeight = height;
    fittedZoom = viewZoom;
    fittedCentre = viewCentre;
}

void followWindowSize()
{
    if (!following) {
        return;
    }
    const int w = viewWidth;
    const int h = viewHeight;
    if (w != fittedWidth || h != fittedHeight) {
        fitViewToBounds(w, h);
        fittedWidth = w;
        fittedHeight = h;
    }
    fittedZoom = viewZoom;
    fittedCentre = viewCentre;
}

void noteViewCommands()
{
    if (following && (viewZoom != fittedZoom || viewCentre.x != fittedCentre.x || viewCentre.y != fittedCentre.y)) {
        following = false;
    }
}

bool followingWindowSize()
{
    return following;
}
