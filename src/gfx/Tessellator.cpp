// The shared GLU tessellator: fills polygon lists as one polygon with many
// contours (odd winding rule, so nested polygons alternate between filled
// and hole) and serves as the self-crossing test of a single polygon.

#include "gfx/Tessellator.h"

#include "model/Globals.h"
#include "model/Polygon.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <deque>

int textureRepeat = 256;
bool polygonValid = true;

namespace {

GLUtesselator* tessellator = nullptr;

// Spare vertices for the intersections the tessellator creates. A deque
// keeps the address of every element while it grows, so a vertex handed out
// stays valid until the tessellation polygon has ended. The last element is
// the tail: the vertex handed out next.
std::deque<Cvertex> scratch;

void createScratch()
{
    scratch.clear();
    scratch.emplace_back();
}

void freeScratch()
{
    scratch.clear();
}

void GLAPIENTRY plainVertex(void* data)
{
    const Cvertex* v = static_cast<const Cvertex*>(data);
    glVertex2d(v->x, v->y);
}

void GLAPIENTRY texturedVertex(void* data)
{
    const Cvertex* v = static_cast<const Cvertex*>(data);
    // A repeat of 0 would give infinite texture coordinates.
    const double repeat = textureRepeat > 0 ? static_cast<double>(textureRepeat) : 1.0;
    glTexCoord2f(static_cast<GLfloat>(v->x / repeat), static_cast<GLfloat>(v->y / repeat));
    glVertex2d(v->x, v->y);
}

void GLAPIENTRY combineVertex(GLdouble coords[3], void* /*neighbours*/[4], GLfloat /*weights*/[4],
                              void** out)
{
    // A standalone outline run started without a scratch chain still gets
    // a vertex rather than a null one.
    if (scratch.empty()) {
        scratch.emplace_back();
    }
    Cvertex& tail = scratch.back();
    tail.x = coords[0];
    tail.y = coords[1];
    *out = &tail;
    scratch.emplace_back();
    polygonValid = false;
}

// Far beyond any world coordinate, and small enough that the sweep's
// products of coordinates stay finite.
constexpr double kMaxDrawnCoordinate = 1e100;

bool drawableCoordinate(double c)
{
    return c >= -kMaxDrawnCoordinate && c <= kMaxDrawnCoordinate;   // false for NaN
}

void GLAPIENTRY ignoreEdgeFlag(GLboolean /*flag*/) {}

template <typename F>
_GLUfuncptr callback(F f)
{
    return reinterpret_cast<_GLUfuncptr>(f);
}

// Feeds every polygon of the list, one contour each, into a polygon the
// caller has begun.
void tessellateList(Cpolygons* list)
{
    gluTessBeginPolygon(tessellator, nullptr);
    for (Cpolygons* node = list; node != nullptr; node = node->next) {
        if (node->polygon != nullptr) {
            node->polygon->tessellate(true, false);
        }
    }
    gluTessEndPolygon(tessellator);
}

} // namespace

void createTessellator()
{
    if (tessellator != nullptr) {
        gluDeleteTess(tessellator);
    }
    tessellator = gluNewTess();
    if (tessellator == nullptr) {
        return;
    }
    gluTessProperty(tessellator, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_ODD);
    if (gameMode) {
        gluTessCallback(tessellator, GLU_TESS_VERTEX, callback(&texturedVertex));
    } else {
        gluTessCallback(tessellator, GLU_TESS_VERTEX, callback(&plainVertex));
    }
    gluTessCallback(tessellator, GLU_TESS_BEGIN, callback(&glBegin));
    gluTessCallback(tessellator, GLU_TESS_END, callback(&glEnd));
    gluTessCallback(tessellator, GLU_TESS_COMBINE, callback(&combineVertex));
}

void deleteTessellator()
{
    if (tessellator != nullptr) {
        gluDeleteTess(tessellator);
        tessellator = nullptr;
    }
    freeScratch();
}

void Cpolygon::tessellate(bool filled, bool standalone)
{
    if (count == 1) {
        // The editor's rubber band from the first vertex to the mouse.
        if (first != nullptr && first->next != nullptr) {
            glBegin(GL_LINES);
            glVertex2d(first->x, first->y);
            glVertex2d(first->next->x, first->next->y);
            glEnd();
        }
        return;
    }
    if (tessellator == nullptr) {
        return;
    }
    gluTessProperty(tessellator, GLU_TESS_BOUNDARY_ONLY, filled ? 0.0 : 1.0);
    if (standalone) {
        gluTessBeginPolygon(tessellator, nullptr);
    }
    gluTessBeginContour(tessellator);
    for (Cvertex* v = first; v != nullptr; v = v->next) {
        // A damaged track file can hold NaN, infinite or huge coordinates,
        // on which the tessellator's sweep crashes: such a vertex is left
        // out of the fill.
        if (!drawableCoordinate(v->x) || !drawableCoordinate(v->y)) {
            continue;
        }
        GLdouble coords[3] = {v->x, v->y, 0.0};
        gluTessVertex(tessellator, coords, v);
    }
    gluTessEndContour(tessellator);
    if (standalone) {
        gluTessEndPolygon(tessellator);
    }
}

bool Cpolygon::isValid()
{
    polygonValid = true;
    createScratch();
    bool result = false;
    if (count >= 3) {
        glColor4f(0.0f, 0.0f, 0.0f, 0.0f);
        // With an edge-flag callback the tessellator cannot draw a contour
        // whose fan triangles all turn one way directly as a fan: it runs
        // its full sweep, which meets every crossing and every repeated
        // vertex through the combine callback.
        if (tessellator != nullptr) {
            gluTessCallback(tessellator, GLU_TESS_EDGE_FLAG, callback(&ignoreEdgeFlag));
        }
        tessellate(true, true);
        if (tessellator != nullptr) {
            gluTessCallback(tessellator, GLU_TESS_EDGE_FLAG, nullptr);
        }
        result = polygonValid;
    }
    freeScratch();
    return result;
}

void Cpolygons::drawPolygons(Cpolygons* list, unsigned int& listId)
{
    if (gameMode) {
        if (listId == 0 && tessellator != nullptr) {
            createScratch();
            listId = glGenLists(1);
            glNewList(listId, GL_COMPILE);
            tessellateList(list);
            glEndList();
            freeScratch();
        }
        if (listId != 0) {
            glCallList(listId);
        }
        polygonValid = true;
    } else if (tessellator != nullptr) {
        createScratch();
        tessellateList(list);
        freeScratch();
    }
}
