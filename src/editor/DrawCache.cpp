#include "editor/DrawCache.h"

#include "physics/Motorbike.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

bool CeditorDrawCache::enabled = true;

namespace {

// The tessellator leaves such vertices out of the fill (gfx/Tessellator.cpp);
// the fans leave out the same ones.
constexpr double kMaxDrawnCoordinate = 1e100;

// Lines are 3 pixels wide: a box of lines reaches this many pixels beyond
// the box of their ends.
constexpr double kLineMargin = 4.0;

// The text mask: each time a pixel is drawn adds kTextStep, up to
// kTextLevels times.
constexpr float kTextStep = 0.25f;
constexpr int kTextLevels = 3;

bool drawable(const Cvertex* v)
{
    return v->x >= -kMaxDrawnCoordinate && v->x <= kMaxDrawnCoordinate && v->y >= -kMaxDrawnCoordinate &&
           v->y <= kMaxDrawnCoordinate;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The polygon matches the copy: the same count and the same chain, bit for
// bit (so a NaN matches itself).
bool matches(const std::vector<double>& shape, const Cpolygon* polygon)
{
    if (shape.empty() || !sameBits(shape[0], static_cast<double>(polygon->count))) {
        return false;
    }
    size_t i = 1;
    for (const Cvertex* v = polygon->first; v != nullptr; v = v->next, i += 2) {
        if (i + 1 >= shape.size() || !sameBits(shape[i], v->x) || !sameBits(shape[i + 1], v->y)) {
            return false;
        }
    }
    return i == shape.size();
}

// Consecutive edges per fan of parityTriangles.
constexpr size_t kChunkEdges = 16;

// Triangles (x, y of three vertices each, appended to `out` as the floats
// GL would make of them) that cover every point an odd number of times
// exactly where the closed outline winds around it an odd number of times.
// One fan from the first vertex would do, but its triangles reach across
// the whole polygon and a rasteriser pays for every tile each one crosses.
// So the outline is cut into runs of kChunkEdges edges: each run, closed by
// the chord from its end back to its start, is a small fan of its own, and
// the chords, in order, form an outline with one vertex per run that is cut
// the same way, until one fan remains. Each chord is run once each way, so
// the windings add up to the outline's.
void parityTriangles(std::vector<Cvector>& outline, std::vector<float>& out)
{
    const auto put = [&out](const Cvector& a, const Cvector& b, const Cvector& c) {
        out.insert(out.end(), {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(b.x),
                               static_cast<float>(b.y), static_cast<float>(c.x), static_cast<float>(c.y)});
    };
    while (outline.size() >= 3) {
        const size_t n = outline.size();
        if (n <= kChunkEdges + 1) {
            for (size_t i = 1; i + 1 < n; ++i) {
                put(outline[0], outline[i], outline[i + 1]);
            }
            return;
        }
        size_t kept = 0;
        for (size_t start = 0; start < n; start += kChunkEdges) {
            const size_t end = std::min(start + kChunkEdges, n);   // n stands for 0
            const Cvector apex = outline[start];
            for (size_t i = start + 1; i < end; ++i) {
                put(apex, outline[i], outline[i + 1 < n ? i + 1 : 0]);
            }
            outline[kept++] = apex;   // kept <= start: not read again
        }
        outline.resize(kept);
    }
}

}  // namespace

CeditorDrawCache::Box CeditorDrawCache::widened(const Box& box, double perX, double perY)
{
    Box wide = box;
    wide.left -= kLineMargin / perX;
    wide.right += kLineMargin / perX;
    wide.bottom -= kLineMargin / perY;
    wide.top += kLineMargin / perY;
    return wide;
}

CeditorDrawCache::Box CeditorDrawCache::viewBox(double left, double right, double bottom, double top, int width,
                                               int height)
{
    Box view;
    view.add(left, bottom);
    view.add(right, top);
    return widened(view, width / (right - left), height / (top - bottom));
}

void CeditorDrawCache::Box::add(double x, double y)
{
    if (empty) {
        left = right = x;
        bottom = top = y;
        empty = false;
    } else {
        left = std::min(left, x);
        right = std::max(right, x);
        bottom = std::min(bottom, y);
        top = std::max(top, y);
    }
}

void CeditorDrawCache::Box::add(const Box& b)
{
    if (!b.empty) {
        add(b.left, b.bottom);
        add(b.right, b.top);
    }
}

bool CeditorDrawCache::Box::meets(const Box& b) const
{
    return !empty && !b.empty && left <= b.right && right >= b.left && bottom <= b.top && top >= b.bottom;
}

CeditorDrawCache::Entry* CeditorDrawCache::find(const Cpolygon* polygon)
{
    const auto it = entries_.find(polygon);
    return it == entries_.end() ? nullptr : &it->second;
}

void CeditorDrawCache::rebuild(Entry& entry, const Cpolygon* polygon)
{
    if (entry.pictured) {
        gone_.add(entry.box);
        entry.pictured = false;
    }
    entry.shape.clear();
    entry.shape.push_back(static_cast<double>(polygon->count));
    entry.box = Box();
    for (const Cvertex* v = polygon->first; v != nullptr; v = v->next) {
        entry.shape.push_back(v->x);
        entry.shape.push_back(v->y);
        if (drawable(v)) {
            entry.box.add(v->x, v->y);
        }
    }
    // One placed vertex is drawn as the line to the mouse vertex, and
    // takes no part in the fill.
    entry.line = polygon->count == 1 && polygon->first != nullptr && polygon->first->next != nullptr;
    if (entry.line) {
        entry.lineEnds[0] = polygon->first->x;
        entry.lineEnds[1] = polygon->first->y;
        entry.lineEnds[2] = polygon->first->next->x;
        entry.lineEnds[3] = polygon->first->next->y;
    }
    if (entry.outline != 0) {
        glDeleteLists(entry.outline, 1);
        entry.outline = 0;
    }
    entry.triangles.clear();
    if (polygon->count != 1) {
        std::vector<Cvector>& outline = outlineScratch_;
        outline.clear();
        for (const Cvertex* v = polygon->first; v != nullptr; v = v->next) {
            if (drawable(v)) {
                outline.push_back(*v);
            }
        }
        parityTriangles(outline, entry.triangles);
    }
    entry.valid = -1;
    entry.touches = -1;
}

void CeditorDrawCache::update(Cpolygons* list)
{
    ++frame_;
    bool changed = false;
    for (Cpolygons* node = list; node != nullptr; node = node->next) {
        const Cpolygon* polygon = node->polygon;
        if (polygon == nullptr) {
            continue;
        }
        Entry& entry = entries_[polygon];
        if (!matches(entry.shape, polygon)) {
            rebuild(entry, polygon);
            changed = true;
        }
        entry.seen = frame_;
    }
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.seen != frame_) {
            if (it->second.pictured) {
                gone_.add(it->second.box);
            }
            glDeleteLists(it->second.outline, 1);
            it = entries_.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed) {
        tessellatedStale_ = true;
    }
}

void CeditorDrawCache::drawTessellated(Cpolygons* list)
{
    if (tessellatedStale_ || tessellated_ == 0) {
        if (tessellated_ == 0) {
            tessellated_ = glGenLists(1);
        }
        unsigned int noList = 0;
        if (tessellated_ == 0) {
            Cpolygons::drawPolygons(list, noList);
            return;
        }
        glNewList(tessellated_, GL_COMPILE);
        Cpolygons::drawPolygons(list, noList);
        glEndList();
        tessellatedStale_ = false;
    }
    glCallList(tessellated_);
}

void CeditorDrawCache::drawFill(Cpolygons* list, const Box& region)
{
    if (stencilBits_ < 0) {
        GLint bits = 0;
        glGetIntegerv(GL_STENCIL_BITS, &bits);
        stencilBits_ = bits;
    }
    if (stencilBits_ == 0) {
        drawTessellated(list);
        return;
    }
    glClear(GL_STENCIL_BUFFER_BIT);
    glEnable(GL_STENCIL_TEST);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glStencilFunc(GL_ALWAYS, 0, 1);
    glStencilMask(1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INVERT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (const auto& [polygon, entry] : entries_) {
        if (!entry.triangles.empty() && entry.box.meets(region)) {
            glVertexPointer(2, GL_FLOAT, 0, entry.triangles.data());
            glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(entry.triangles.size() / 2));
        }
    }
    glPopClientAttrib();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glStencilFunc(GL_EQUAL, 1, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glRectd(region.left, region.bottom, region.right, region.top);
    glStencilMask(~0u);
    glDisable(GL_STENCIL_TEST);
    for (const auto& [polygon, entry] : entries_) {
        if (entry.line && entry.box.meets(region)) {
            glBegin(GL_LINES);
            glVertex2d(entry.lineEnds[0], entry.lineEnds[1]);
            glVertex2d(entry.lineEnds[2], entry.lineEnds[3]);
            glEnd();
        }
    }
}

void CeditorDrawCache::drawLayers(Cpolygon* world, Cpolygons* list, Cpolygon* active, const Box& region)
{
    glColor4f(0.5f, 0.0f, 0.0f, 0.7f);
    world->tessellate(false, true);
    glColor4f(0.5f, 0.5f, 0.5f, 0.7f);
    drawFill(list, region);
    if (active != nullptr) {
        glColor4f(0.2f, 0.8f, 0.2f, 0.7f);
        drawOutline(active);
    }
}

void CeditorDrawCache::drawGround(Cpolygon* world, Cpolygons* list, Cpolygon* active, double left, double right,
                                  double bottom, double top, int width, int height)
{
    if (!enabled) {
        glColor4f(0.5f, 0.0f, 0.0f, 0.7f);
        world->tessellate(false, true);
        glColor4f(0.5f, 0.5f, 0.5f, 0.7f);
        unsigned int noList = 0;
        Cpolygons::drawPolygons(list, noList);
        if (active != nullptr) {
            glColor4f(0.2f, 0.8f, 0.2f, 0.7f);
            active->tessellate(false, true);
        }
        return;
    }
    if (width <= 0 || height <= 0 || !(right > left) || !(top > bottom)) {
        return;
    }
    // After the window's size changed, GL may take a frame or two to give
    // the buffer that size: no picture is taken until it held for two.
    if (width != lastSize_[0] || height != lastSize_[1]) {
        lastSize_[0] = width;
        lastSize_[1] = height;
        sameSizeFrames_ = 0;
    }
    if (sameSizeFrames_ < 3) {
        ++sameSizeFrames_;
    }
    if (sameSizeFrames_ < 3) {
        drawLayers(world, list, active, viewBox(left, right, bottom, top, width, height));
        pictureSize_[0] = 0;
        return;
    }
    const double view[4] = {left, right, bottom, top};
    const bool fresh = picture_ == 0 || std::memcmp(view, pictureView_, sizeof view) != 0 ||
                       pictureSize_[0] != width || pictureSize_[1] != height;
    Box region;
    if (fresh) {
        region = viewBox(left, right, bottom, top, width, height);
    } else {
        region = gone_;
        for (const auto& [polygon, entry] : entries_) {
            if (!entry.pictured) {
                region.add(entry.box);
            }
        }
        if (active != pictureActive_) {
            region.add(pictureActiveBox_);
            if (const Entry* entry = find(active)) {
                region.add(entry->box);
            }
        }
    }

    // Pixels per world unit.
    const double perX = width / (right - left);
    const double perY = height / (top - bottom);
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    if (!region.empty) {
        // The scissor takes in every pixel the lines of the changed box can
        // reach; the fans of every polygon that meets a pixel of it are
        // drawn, and the fill's rectangle covers it whole.
        region = widened(region, perX, perY);
        x0 = static_cast<int>(std::clamp(std::floor((region.left - left) * perX), 0.0, double(width)));
        x1 = static_cast<int>(std::clamp(std::ceil((region.right - left) * perX), 0.0, double(width)));
        y0 = static_cast<int>(std::clamp(std::floor((region.bottom - bottom) * perY), 0.0, double(height)));
        y1 = static_cast<int>(std::clamp(std::ceil((region.top - bottom) * perY), 0.0, double(height)));
    }

    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_SCISSOR_BIT | GL_CURRENT_BIT);
    if (!fresh) {
        // The picture, texel for pixel, over everything.
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glOrtho(0, width, 0, height, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glDisable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, picture_);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glBegin(GL_QUADS);
        glTexCoord2f(0.0f, 0.0f);
        glVertex2i(0, 0);
        glTexCoord2f(1.0f, 0.0f);
        glVertex2i(width, 0);
        glTexCoord2f(1.0f, 1.0f);
        glVertex2i(width, height);
        glTexCoord2f(0.0f, 1.0f);
        glVertex2i(0, height);
        glEnd();
        glPopMatrix();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glEnable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
    }
    if (x1 > x0 && y1 > y0) {
        if (!fresh) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(x0, y0, x1 - x0, y1 - y0);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        drawLayers(world, list, active, fresh ? region : widened(region, perX, perY));
        glDisable(GL_SCISSOR_TEST);
        if (picture_ == 0) {
            glGenTextures(1, &picture_);
        }
        glBindTexture(GL_TEXTURE_2D, picture_);
        if (fresh) {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, 0, 0, width, height, 0);
        } else {
            glCopyTexSubImage2D(GL_TEXTURE_2D, 0, x0, y0, x0, y0, x1 - x0, y1 - y0);
        }
    }
    glPopAttrib();

    std::memcpy(pictureView_, view, sizeof view);
    pictureSize_[0] = width;
    pictureSize_[1] = height;
    for (auto& [polygon, entry] : entries_) {
        entry.pictured = true;
    }
    gone_ = Box();
    pictureActive_ = active;
    const Entry* activeEntry = find(active);
    pictureActiveBox_ = activeEntry != nullptr ? activeEntry->box : Box();
}

void CeditorDrawCache::drawOutline(Cpolygon* polygon)
{
    Entry* entry = find(polygon);
    if (entry == nullptr) {
        polygon->tessellate(false, true);
        return;
    }
    if (entry->outline == 0) {
        entry->outline = glGenLists(1);
        if (entry->outline == 0) {
            polygon->tessellate(false, true);
            return;
        }
        glNewList(entry->outline, GL_COMPILE);
        polygon->tessellate(false, true);
        glEndList();
    }
    glCallList(entry->outline);
}

void CeditorDrawCache::prepareText(int key, void (*print)(), double left, double right, double bottom, double top,
                                   int width, int height)
{
    const double view[4] = {left, right, bottom, top};
    // Only once the window's size has held (see drawGround).
    if (!enabled || sameSizeFrames_ < 3 || width != lastSize_[0] || height != lastSize_[1] || width <= 0 ||
        height <= 0) {
        textKey_ = 0;
        return;
    }
    if (textMask_ != 0 && textKey_ == key && std::memcmp(view, textView_, sizeof view) == 0 &&
        textSize_[0] == width && textSize_[1] == height) {
        return;
    }
    // On the cleared buffer: the text, each of its triangles adding a
    // quarter, so that the mask counts how often each pixel is drawn (a
    // glyph may reach over its neighbour); read back, then the buffer is
    // cleared again.
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glColor4f(kTextStep, kTextStep, kTextStep, kTextStep);
    print();
    if (textMask_ == 0) {
        glGenTextures(1, &textMask_);
    }
    glBindTexture(GL_TEXTURE_2D, textMask_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_INTENSITY8, 0, 0, width, height, 0);
    // The box of the drawn pixels: each frame works within it only.
    std::vector<unsigned char> red(static_cast<size_t>(width) * static_cast<size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RED, GL_UNSIGNED_BYTE, red.data());
    int box[4] = {width, height, 0, 0};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (red[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] != 0) {
                box[0] = std::min(box[0], x);
                box[1] = std::min(box[1], y);
                box[2] = std::max(box[2], x + 1);
                box[3] = std::max(box[3], y + 1);
            }
        }
    }
    std::memcpy(textBox_, box, sizeof box);
    glPopAttrib();
    glClear(GL_COLOR_BUFFER_BIT);
    textKey_ = key;
    std::memcpy(textView_, view, sizeof view);
    textSize_[0] = width;
    textSize_[1] = height;
}

void CeditorDrawCache::drawText(int key, void (*print)(), float alpha)
{
    if (textKey_ == 0 || textKey_ != key || stencilBits_ <= 0) {
        glColor4f(1.0f, 1.0f, 1.0f, alpha);
        print();
        return;
    }
    // Where the text was drawn k times, the white quad at `alpha` is
    // blended k times: the very sums the text's own triangles make.
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT |
                 GL_SCISSOR_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, textSize_[0], 0, textSize_[1], -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    const int x0 = textBox_[0];
    const int y0 = textBox_[1];
    const int x1 = textBox_[2];
    const int y1 = textBox_[3];
    const float u0 = static_cast<float>(x0) / static_cast<float>(textSize_[0]);
    const float v0 = static_cast<float>(y0) / static_cast<float>(textSize_[1]);
    const float u1 = static_cast<float>(x1) / static_cast<float>(textSize_[0]);
    const float v1 = static_cast<float>(y1) / static_cast<float>(textSize_[1]);
    const auto quad = [=] {
        glBegin(GL_QUADS);
        glTexCoord2f(u0, v0);
        glVertex2i(x0, y0);
        glTexCoord2f(u1, v0);
        glVertex2i(x1, y0);
        glTexCoord2f(u1, v1);
        glVertex2i(x1, y1);
        glTexCoord2f(u0, v1);
        glVertex2i(x0, y1);
        glEnd();
    };
    if (x1 <= x0 || y1 <= y0) {
        glPopMatrix();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glPopAttrib();
        return;
    }
    // The count into the stencil: one pass per level of the mask.
    glEnable(GL_SCISSOR_TEST);
    glScissor(x0, y0, x1 - x0, y1 - y0);
    glClear(GL_STENCIL_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 0, ~0u);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textMask_);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnable(GL_ALPHA_TEST);
    for (int level = 1; level <= kTextLevels; ++level) {
        glAlphaFunc(GL_GEQUAL, (level - 0.5f) * kTextStep);
        quad();
    }
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    // The text's colour, blended once per time the pixel was drawn.
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glColor4f(1.0f, 1.0f, 1.0f, alpha);
    for (int level = 1; level <= kTextLevels; ++level) {
        glStencilFunc(GL_LEQUAL, level, ~0u);
        quad();
    }
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

bool CeditorDrawCache::polygonValid(Cpolygon* polygon)
{
    Entry* entry = find(polygon);
    if (entry == nullptr) {
        return polygon->isValid();
    }
    if (entry->valid < 0) {
        entry->valid = polygon->isValid() ? 1 : 0;
    }
    return entry->valid == 1;
}

bool CeditorDrawCache::bikeTouches(const Cmoto& bike, const Cpolygons* list)
{
    const double place[6] = {bike.frontWheel->position.x, bike.frontWheel->position.y,
                             bike.rearWheel->position.x,  bike.rearWheel->position.y,
                             bike.head->position.x,       bike.head->position.y};
    if (!bikeKnown_ || std::memcmp(place, bikePlace_, sizeof place) != 0) {
        for (auto& [polygon, entry] : entries_) {
            entry.touches = -1;
        }
        std::memcpy(bikePlace_, place, sizeof place);
        bikeKnown_ = true;
    }
    // The walk of touchesPolygons: every node up to the first without a
    // polygon; a polygon counts when any of the three balls touches it.
    bool touches = false;
    for (const Cpolygons* node = list; node != nullptr && node->polygon != nullptr && !touches; node = node->next) {
        const Cpolygon* polygon = node->polygon;
        Entry* entry = find(polygon);
        int8_t known = entry != nullptr ? entry->touches : -1;
        if (known < 0) {
            known = bike.frontWheel->collidePolygon(polygon, true) || bike.rearWheel->collidePolygon(polygon, true) ||
                            bike.head->collidePolygon(polygon, true)
                        ? 1
                        : 0;
            if (entry != nullptr) {
                entry->touches = known;
            }
        }
        touches = known == 1;
    }
    return touches;
}

void CeditorDrawCache::release()
{
    for (auto& [polygon, entry] : entries_) {
        glDeleteLists(entry.outline, 1);
    }
    entries_.clear();
    if (tessellated_ != 0) {
        glDeleteLists(tessellated_, 1);
        tessellated_ = 0;
    }
    if (picture_ != 0) {
        glDeleteTextures(1, &picture_);
        picture_ = 0;
    }
    if (textMask_ != 0) {
        glDeleteTextures(1, &textMask_);
        textMask_ = 0;
    }
    textKey_ = 0;
    gone_ = Box();
    pictureActive_ = nullptr;
    pictureActiveBox_ = Box();
    pictureSize_[0] = 0;
    sameSizeFrames_ = 0;
    tessellatedStale_ = true;
    stencilBits_ = -1;
    bikeKnown_ = false;
}
