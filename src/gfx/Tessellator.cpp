// The shared GLU tessellator: fills polygon lists as one polygon with many
// contours (odd winding rule, so nested polygons alternate between filled
// and hole) and serves as the self-crossing test of a single polygon.

#include "gfx/Tessellator.h"

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

// The ground when its outlines cross or touch often (model/Crossings.h). The
// tessellator would pay for every crossing, and a polygon of n random
// vertices has about n * n / 10 of them; triangles that fill by parity
// through the stencil are as slow, as each pixel lies under some n / 10 of
// them. So each frame finds the fill of the pixels themselves: for each row
// of pixels, every edge that crosses the row at a pixel centre's height
// flips the parity of the pixels from its crossing to the right; a running
// sum along the row then tells the pixels whose centres the outlines wind
// around an odd number of times, which is the odd winding rule sampled
// where GL samples. The work is the edges that reach the view's rows plus
// the view's pixels, never more than edges times rows. The mask goes to a
// texture on a second texture unit, and the textured ground is laid over
// the whole view through it.
bool maskGround = false;
struct MaskEdge {
    double x0 = 0.0;
    double y0 = 0.0;
    double x1 = 0.0;
    double y1 = 0.0;
};
std::vector<MaskEdge> maskEdges;
struct MaskRun {
    int first = 0;
    int last = 0;
    double t = 0.0;
    double slope = 0.0;
};
std::vector<MaskRun> maskRuns;
std::vector<unsigned char> maskFlips;   // (width + 1) per row
std::vector<unsigned char> maskPixels;
GLuint maskTexture = 0;
int maskSize[2] = {0, 0};

void buildMask(Cpolygons* list)
{
    maskGround = true;
    maskEdges.clear();
    std::vector<Cvector> outline;
    for (Cpolygons* node = list; node != nullptr; node = node->next) {
        if (node->polygon == nullptr) {
            continue;
        }
        outline.clear();
        for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
            if (drawableVertex(*v)) {
                outline.push_back(*v);
            }
        }
        // The tessellator drops outlines of fewer than three points.
        if (outline.size() < 3) {
            continue;
        }
        for (size_t i = 0; i < outline.size(); ++i) {
            const Cvector& a = outline[i];
            const Cvector& b = outline[i + 1 < outline.size() ? i + 1 : 0];
            if (a.y != b.y) {
                maskEdges.push_back(MaskEdge{a.x, a.y, b.x, b.y});
            }
        }
    }
}

void freeMask()
{
    maskGround = false;
    maskEdges = {};
    maskRuns = {};
    maskFlips = {};
    maskPixels = {};
    if (maskTexture != 0) {
        glDeleteTextures(1, &maskTexture);
        maskTexture = 0;
    }
    maskSize[0] = maskSize[1] = 0;
}

// The mask of the viewport's pixels, for the current projection and
// modelview (an axis-aligned map from world units to pixels).
void computeMask(int width, int height, const double scale[2], const double offset[2])
{
    const size_t stride = static_cast<size_t>(width) + 1;
    maskFlips.assign(stride * static_cast<size_t>(height), 0);
    // Each edge in pixels: its first and last row, and t = x - 0.5 at the
    // first row's centre, stepping by the slope from row to row. Pixels
    // whose centres lie right of the crossing x (i + 0.5 > x) are those from
    // i = floor(t) + 1 on.
    maskRuns.clear();
    for (const MaskEdge& e : maskEdges) {
        double x0 = scale[0] * e.x0 + offset[0];
        double y0 = scale[1] * e.y0 + offset[1];
        double x1 = scale[0] * e.x1 + offset[0];
        double y1 = scale[1] * e.y1 + offset[1];
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        // Rows whose centres j + 0.5 lie in [y0, y1).
        const double first = std::max(std::ceil(y0 - 0.5), 0.0);
        const double last = std::min(std::ceil(y1 - 0.5) - 1.0, static_cast<double>(height - 1));
        if (!(first <= last)) {
            continue;
        }
        const double slope = (x1 - x0) / (y1 - y0);
        maskRuns.push_back(MaskRun{static_cast<int>(first), static_cast<int>(last),
                                   x0 + (first + 0.5 - y0) * slope - 0.5, slope});
    }
    // Band by band of rows, so that the flips being written stay in cache.
    constexpr int kBand = 16;
    const double limit = static_cast<double>(width);
    for (int band = 0; band < height; band += kBand) {
        const int bandLast = std::min(band + kBand, height) - 1;
        for (const MaskRun& run : maskRuns) {
            if (run.first > bandLast || run.last < band) {
                continue;
            }
            const int from = std::max(run.first, band);
            const int to = std::min(run.last, bandLast);
            double t = run.t + (from - run.first) * run.slope;
            unsigned char* flips = maskFlips.data() + static_cast<size_t>(from) * stride;
            for (int j = from; j <= to; ++j, t += run.slope, flips += stride) {
                if (t < 0.0) {
                    flips[0] ^= 1;
                } else if (t < limit) {
                    flips[static_cast<size_t>(t) + 1] ^= 1;
                }
            }
        }
    }
    maskPixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int j = 0; j < height; ++j) {
        const unsigned char* flips = &maskFlips[static_cast<size_t>(j) * stride];
        unsigned char* row = &maskPixels[static_cast<size_t>(j) * static_cast<size_t>(width)];
        unsigned char inside = 0;
        for (int i = 0; i < width; ++i) {
            inside ^= flips[i];
            row[i] = inside != 0 ? 255 : 0;
        }
    }
}

void drawMask()
{
    // World units to pixels: the projection and modelview of a 2-D view
    // map x and y each by a scale and an offset.
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int width = viewport[2];
    const int height = viewport[3];
    GLdouble projection[16] = {};
    GLdouble modelview[16] = {};
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    double scale[2] = {};
    double offset[2] = {};
    for (int k = 0; k < 2; ++k) {
        const double half = 0.5 * viewport[2 + k];
        const double s = projection[0 + 5 * k] * modelview[0 + 5 * k];
        const double o = projection[0 + 5 * k] * modelview[12 + k] + projection[12 + k];
        scale[k] = s * half;
        offset[k] = (o + 1.0) * half;
    }
    if (width <= 0 || height <= 0 || scale[0] == 0.0 || scale[1] == 0.0) {
        return;
    }
    computeMask(width, height, scale, offset);

    // The mask on the second texture unit, texel for pixel, its alpha
    // multiplying the ground's; the alpha test drops what lies outside.
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT);
    glActiveTexture(GL_TEXTURE1);
    if (maskTexture == 0) {
        glGenTextures(1, &maskTexture);
    }
    glBindTexture(GL_TEXTURE_2D, maskTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (maskSize[0] != width || maskSize[1] != height) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA8, width, height, 0, GL_ALPHA, GL_UNSIGNED_BYTE, maskPixels.data());
        maskSize[0] = width;
        maskSize[1] = height;
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_ALPHA, GL_UNSIGNED_BYTE, maskPixels.data());
    }
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);

    // The ground over the whole viewport, with the texture coordinates the
    // textured vertex callback gives.
    const double repeat = textureRepeat > 0 ? static_cast<double>(textureRepeat) : 1.0;
    glBegin(GL_QUADS);
    for (const auto& [u, v] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{1, 1}, std::pair{0, 1}}) {
        const double x = (u * width - offset[0]) / scale[0];
        const double y = (v * height - offset[1]) / scale[1];
        glMultiTexCoord2f(GL_TEXTURE1, static_cast<GLfloat>(u), static_cast<GLfloat>(v));
        glTexCoord2f(static_cast<GLfloat>(x / repeat), static_cast<GLfloat>(y / repeat));
        glVertex2d(x, y);
    }
    glEnd();
    glActiveTexture(GL_TEXTURE1);
    glDisable(GL_TEXTURE_2D);
    glActiveTexture(GL_TEXTURE0);
    glPopAttrib();
}

void buildTiles(Cpolygons* list, unsigned int& listId)
{
    freeMask();
    if (polygonsMeetOften(list)) {
        buildMask(list);
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
    if (listId != 0 && maskGround) {
        drawMask();
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
    freeMask();
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
    // The outline of a polygon whose edges cross or touch often: its own
    // edges, not the boundary the tessellator would find at the price of
    // every crossing.
    if (!filled && standalone && polygonMeetsItselfOften(this)) {
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
        // Edges that cross or touch often would make the tessellator combine
        // vertices at each place, at a price: that is decided without it.
        if (polygonMeetsItselfOften(this)) {
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
    } else if (polygonsMeetOften(list)) {
        // The editor without a stencil buffer: outlines that meet often
        // would cost the tessellator's sweep at every change; their edges
        // are drawn instead of the fill.
        for (Cpolygons* node = list; node != nullptr; node = node->next) {
            if (node->polygon != nullptr && node->polygon->count != 1) {
                glBegin(GL_LINE_LOOP);
                for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
                    if (drawableVertex(*v)) {
                        glVertex2d(v->x, v->y);
                    }
                }
                glEnd();
            }
        }
    } else if (tessellator != nullptr) {
        createScratch();
        tessellateList(list);
        freeScratch();
    }
}
