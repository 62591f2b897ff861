// The shared GLU tessellator: fills polygon lists as one polygon with many
// contours (odd winding rule, so nested polygons alternate between filled
// and hole) and serves as the self-crossing test of a single polygon.

#include "gfx/Tessellator.h"

#include "gfx/ParityFill.h"
#include "model/Crossings.h"
#include "model/Globals.h"
#include "model/Polygon.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>
#include <vector>

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

// Triangles captured from the tessellator instead of drawn: six
// coordinates each. The primitive being received, its type and vertices.
std::vector<double>* capturedTriangles = nullptr;
GLenum capturedType = GL_TRIANGLES;
std::vector<double> capturedPrimitive;

void GLAPIENTRY captureBegin(GLenum type)
{
    capturedType = type;
    capturedPrimitive.clear();
}

void GLAPIENTRY captureVertex(void* data)
{
    const Cvertex* v = static_cast<const Cvertex*>(data);
    capturedPrimitive.push_back(v->x);
    capturedPrimitive.push_back(v->y);
}

void putCaptured(size_t a, size_t b, size_t c)
{
    for (const size_t i : {a, b, c}) {
        capturedTriangles->push_back(capturedPrimitive[2 * i]);
        capturedTriangles->push_back(capturedPrimitive[2 * i + 1]);
    }
}

// Fans and strips become separate triangles: the same triangles, so the
// same pixels.
void GLAPIENTRY captureEnd()
{
    const size_t n = capturedPrimitive.size() / 2;
    for (size_t i = 0; i + 2 < n; ++i) {
        if (capturedType == GL_TRIANGLES) {
            if (i % 3 == 0) {
                putCaptured(i, i + 1, i + 2);
            }
        } else if (capturedType == GL_TRIANGLE_FAN) {
            putCaptured(0, i + 1, i + 2);
        } else if (capturedType == GL_TRIANGLE_STRIP) {
            if (i % 2 == 0) {
                putCaptured(i, i + 1, i + 2);
            } else {
                putCaptured(i + 1, i, i + 2);
            }
        }
    }
    capturedPrimitive.clear();
}

// The tiles of the one tiled list (the game's ground): square cells of the
// world, each compiled into its own display list of the triangles whose
// centre lies in it, with the box those triangles actually cover.
struct TileBox {
    double left = 0.0;
    double right = 0.0;
    double bottom = 0.0;
    double top = 0.0;
    bool empty = true;
};
std::vector<TileBox> tileBoxes;
constexpr double kTileSize = 512.0;
constexpr int kMaxTilesPerAxis = 64;

// Triangles whose vertices lie far apart are kept to a sane tile index.
int tileOf(double v, double origin, double size, int count)
{
    const double t = (v - origin) / size;
    if (!(t > 0.0)) {
        return 0;
    }
    return t >= count - 1 ? count - 1 : static_cast<int>(t);
}

// The ground when its outlines cross or touch (model/Crossings.h): the
// tessellator would pay for every crossing, so the tiled list holds instead
// each polygon's parity triangles (gfx/ParityFill.h), in runs with the box
// they cover. A frame inverts the stencil with the runs that reach into the
// view and then lays the textured ground over the view where the stencil
// is odd: the same region under the odd winding rule, at a cost linear in
// the outlines. Without a stencil buffer the outlines are drawn instead.
bool parityGround = false;
struct ParityRun {
    GLint first = 0;   // vertex
    GLsizei count = 0;
    TileBox box;
};
std::vector<float> parityVertices;
std::vector<ParityRun> parityRuns;
std::vector<float> parityOutlines;
std::vector<GLint> parityOutlineStarts;   // one per outline, and the end
constexpr GLsizei kParityRunVertices = 3 * 64;

void buildParity(Cpolygons* list)
{
    parityGround = true;
    parityVertices.clear();
    parityRuns.clear();
    parityOutlines.clear();
    parityOutlineStarts.assign(1, 0);
    std::vector<Cvector> outline;
    for (Cpolygons* node = list; node != nullptr; node = node->next) {
        if (node->polygon == nullptr) {
            continue;
        }
        outline.clear();
        for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
            if (drawableVertex(*v)) {
                outline.push_back(*v);
                parityOutlines.push_back(static_cast<float>(v->x));
                parityOutlines.push_back(static_cast<float>(v->y));
            }
        }
        parityOutlineStarts.push_back(static_cast<GLint>(parityOutlines.size() / 2));
        if (outline.size() >= 3) {
            parityTriangles(outline, parityVertices);
        }
    }
    const GLsizei total = static_cast<GLsizei>(parityVertices.size() / 2);
    for (GLsizei first = 0; first < total; first += kParityRunVertices) {
        ParityRun run;
        run.first = first;
        run.count = std::min(kParityRunVertices, total - first);
        for (GLsizei k = first; k < first + run.count; ++k) {
            const double x = parityVertices[2 * static_cast<size_t>(k)];
            const double y = parityVertices[2 * static_cast<size_t>(k) + 1];
            run.box.left = run.box.empty ? x : std::min(run.box.left, x);
            run.box.right = run.box.empty ? x : std::max(run.box.right, x);
            run.box.bottom = run.box.empty ? y : std::min(run.box.bottom, y);
            run.box.top = run.box.empty ? y : std::max(run.box.top, y);
            run.box.empty = false;
        }
        parityRuns.push_back(run);
    }
}

void freeParity()
{
    parityGround = false;
    parityVertices = {};
    parityRuns = {};
    parityOutlines = {};
    parityOutlineStarts = {};
}

void drawParity(double left, double right, double bottom, double top)
{
    GLint stencilBits = 0;
    glGetIntegerv(GL_STENCIL_BITS, &stencilBits);
    const GLboolean textured = glIsEnabled(GL_TEXTURE_2D);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_TEXTURE_2D);
    if (stencilBits == 0) {
        glVertexPointer(2, GL_FLOAT, 0, parityOutlines.data());
        for (size_t i = 0; i + 1 < parityOutlineStarts.size(); ++i) {
            const GLint first = parityOutlineStarts[i];
            const GLsizei count = parityOutlineStarts[i + 1] - first;
            if (count >= 2) {
                glDrawArrays(GL_LINE_LOOP, first, count);
            }
        }
        glPopClientAttrib();
        glPopAttrib();
        return;
    }
    glStencilMask(1);
    glClearStencil(0);
    glClear(GL_STENCIL_BUFFER_BIT);
    glEnable(GL_STENCIL_TEST);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glStencilFunc(GL_ALWAYS, 0, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INVERT);
    glVertexPointer(2, GL_FLOAT, 0, parityVertices.data());
    for (const ParityRun& run : parityRuns) {
        if (run.box.left <= right && run.box.right >= left && run.box.bottom <= top && run.box.top >= bottom) {
            glDrawArrays(GL_TRIANGLES, run.first, run.count);
        }
    }
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glStencilFunc(GL_EQUAL, 1, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    if (textured) {
        glEnable(GL_TEXTURE_2D);
    }
    // Texture coordinates as the textured vertex callback gives them.
    const double repeat = textureRepeat > 0 ? static_cast<double>(textureRepeat) : 1.0;
    glBegin(GL_QUADS);
    for (const auto& [x, y] : {std::pair{left, bottom}, std::pair{right, bottom}, std::pair{right, top},
                               std::pair{left, top}}) {
        glTexCoord2f(static_cast<GLfloat>(x / repeat), static_cast<GLfloat>(y / repeat));
        glVertex2d(x, y);
    }
    glEnd();
    glPopClientAttrib();
    glPopAttrib();
}

void buildTiles(Cpolygons* list, unsigned int& listId)
{
    freeParity();
    if (polygonsMeet(list)) {
        buildParity(list);
        tileBoxes.clear();
        listId = glGenLists(1);   // empty: it marks the ground as built
        return;
    }
    std::vector<double> triangles;
    capturedTriangles = &triangles;
    gluTessCallback(tessellator, GLU_TESS_BEGIN, callback(&captureBegin));
    gluTessCallback(tessellator, GLU_TESS_VERTEX, callback(&captureVertex));
    gluTessCallback(tessellator, GLU_TESS_END, callback(&captureEnd));
    createScratch();
    tessellateList(list);
    freeScratch();
    gluTessCallback(tessellator, GLU_TESS_BEGIN, callback(&glBegin));
    gluTessCallback(tessellator, GLU_TESS_VERTEX, callback(gameMode ? &texturedVertex : &plainVertex));
    gluTessCallback(tessellator, GLU_TESS_END, callback(&glEnd));
    capturedTriangles = nullptr;

    // Tiles over the triangles' box, at most 64 each way.
    double left = INFINITY;
    double right = -INFINITY;
    double bottom = INFINITY;
    double top = -INFINITY;
    for (size_t i = 0; i < triangles.size(); i += 2) {
        left = std::min(left, triangles[i]);
        right = std::max(right, triangles[i]);
        bottom = std::min(bottom, triangles[i + 1]);
        top = std::max(top, triangles[i + 1]);
    }
    const double size = std::max({kTileSize, (right - left) / kMaxTilesPerAxis, (top - bottom) / kMaxTilesPerAxis});
    const int columns = triangles.empty() ? 1 : std::clamp(static_cast<int>(std::ceil((right - left) / size)), 1, kMaxTilesPerAxis);
    const int rows = triangles.empty() ? 1 : std::clamp(static_cast<int>(std::ceil((top - bottom) / size)), 1, kMaxTilesPerAxis);
    const size_t tiles = static_cast<size_t>(columns) * static_cast<size_t>(rows);

    std::vector<std::vector<size_t>> members(tiles);
    tileBoxes.assign(tiles, TileBox{});
    for (size_t t = 0; t < triangles.size(); t += 6) {
        const double* v = &triangles[t];
        const int column = tileOf((v[0] + v[2] + v[4]) / 3.0, left, size, columns);
        const int row = tileOf((v[1] + v[3] + v[5]) / 3.0, bottom, size, rows);
        const size_t tile = static_cast<size_t>(row) * static_cast<size_t>(columns) + static_cast<size_t>(column);
        members[tile].push_back(t);
        TileBox& box = tileBoxes[tile];
        for (int k = 0; k < 6; k += 2) {
            box.left = box.empty ? v[k] : std::min(box.left, v[k]);
            box.right = box.empty ? v[k] : std::max(box.right, v[k]);
            box.bottom = box.empty ? v[k + 1] : std::min(box.bottom, v[k + 1]);
            box.top = box.empty ? v[k + 1] : std::max(box.top, v[k + 1]);
            box.empty = false;
        }
    }

    listId = glGenLists(static_cast<GLsizei>(tiles));
    if (listId == 0) {
        tileBoxes.clear();
        return;
    }
    // Texture coordinates as the textured vertex callback gives them.
    const double repeat = textureRepeat > 0 ? static_cast<double>(textureRepeat) : 1.0;
    for (size_t tile = 0; tile < tiles; ++tile) {
        glNewList(listId + static_cast<GLuint>(tile), GL_COMPILE);
        glBegin(GL_TRIANGLES);
        for (const size_t t : members[tile]) {
            for (int k = 0; k < 6; k += 2) {
                const double x = triangles[t + k];
                const double y = triangles[t + k + 1];
                if (gameMode) {
                    glTexCoord2f(static_cast<GLfloat>(x / repeat), static_cast<GLfloat>(y / repeat));
                }
                glVertex2d(x, y);
            }
        }
        glEnd();
        glEndList();
    }
}

} // namespace

void drawPolygonsInView(Cpolygons* list, unsigned int& listId, double left, double right, double bottom,
                        double top)
{
    if (listId == 0 && tessellator != nullptr) {
        buildTiles(list, listId);
    }
    if (listId != 0 && parityGround) {
        drawParity(left, right, bottom, top);
    } else if (listId != 0) {
        for (size_t tile = 0; tile < tileBoxes.size(); ++tile) {
            const TileBox& box = tileBoxes[tile];
            if (!box.empty && box.left <= right && box.right >= left && box.bottom <= top && box.top >= bottom) {
                glCallList(listId + static_cast<GLuint>(tile));
            }
        }
    }
    polygonValid = true;
}

void deletePolygonTiles(unsigned int& listId)
{
    if (listId != 0) {
        glDeleteLists(listId, static_cast<GLsizei>(std::max<size_t>(tileBoxes.size(), 1)));
        listId = 0;
    }
    tileBoxes.clear();
    freeParity();
}

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
    // The outline of a polygon whose edges cross or touch: its own edges,
    // not the boundary the tessellator would find at the price of every
    // crossing.
    if (!filled && standalone && polygonMeetsItself(this)) {
        glBegin(GL_LINE_LOOP);
        for (const Cvertex* v = first; v != nullptr; v = v->next) {
            if (drawableVertex(*v)) {
                glVertex2d(v->x, v->y);
            }
        }
        glEnd();
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
        // Edges that cross or touch would make the tessellator combine
        // vertices: decided by the sweep without it, whose time is bounded
        // however often they cross.
        if (polygonMeetsItself(this)) {
            polygonValid = false;
        } else {
            tessellate(true, true);
        }
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
