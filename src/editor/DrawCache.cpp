#include "editor/DrawCache.h"

#include "physics/Motorbike.h"

#include <GL/gl.h>

#include <cstring>

namespace {

// Marks between chains in a copy; coordinates are compared bit for bit, so
// a NaN coordinate compares equal to itself.
constexpr double kNoPolygon = -1.0;

void appendPolygon(std::vector<double>& out, const Cpolygon* polygon)
{
    if (polygon == nullptr) {
        out.push_back(kNoPolygon);
        return;
    }
    size_t lengthAt = out.size();
    out.push_back(0.0);
    out.push_back(static_cast<double>(polygon->count));
    double length = 0.0;
    for (const Cvertex* v = polygon->first; v != nullptr; v = v->next) {
        out.push_back(v->x);
        out.push_back(v->y);
        length = length + 1.0;
    }
    out[lengthAt] = length;
}

}  // namespace

bool CpolygonsCopy::compareOrTake(const Cpolygons* list, const Cpolygon* single)
{
    scratch_.clear();
    if (single != nullptr) {
        appendPolygon(scratch_, single);
    } else {
        for (const Cpolygons* node = list; node != nullptr; node = node->next) {
            appendPolygon(scratch_, node->polygon);
        }
    }
    const bool same = valid_ && scratch_.size() == values_.size() &&
                      std::memcmp(scratch_.data(), values_.data(), values_.size() * sizeof(double)) == 0;
    if (!same) {
        values_.swap(scratch_);
        valid_ = true;
    }
    return same;
}

bool CpolygonsCopy::sameAs(const Cpolygons* list)
{
    return compareOrTake(list, nullptr);
}

bool CpolygonsCopy::sameAs(const Cpolygon* polygon)
{
    return compareOrTake(nullptr, polygon);
}

void CeditorDrawCache::drawFill(Cpolygons* list)
{
    fillChanged_ = !fillShape_.sameAs(list);
    if (fillChanged_ || fillList_ == 0) {
        if (fillList_ == 0) {
            fillList_ = glGenLists(1);
        }
        unsigned int noList = 0;
        if (fillList_ == 0) {
            Cpolygons::drawPolygons(list, noList);
            fillShape_.clear();
            return;
        }
        glNewList(fillList_, GL_COMPILE);
        Cpolygons::drawPolygons(list, noList);
        glEndList();
    }
    glCallList(fillList_);
}

bool CeditorDrawCache::polygonValid(Cpolygon* polygon)
{
    if (!drawnShape_.sameAs(polygon)) {
        drawnValid_ = polygon->isValid();
    }
    return drawnValid_;
}

bool CeditorDrawCache::bikeTouches(const Cmoto& bike, const Cpolygons* list)
{
    const double place[6] = {bike.frontWheel->position.x, bike.frontWheel->position.y,
                             bike.rearWheel->position.x,  bike.rearWheel->position.y,
                             bike.head->position.x,       bike.head->position.y};
    if (!touchKnown_ || fillChanged_ || std::memcmp(place, bikePlace_, sizeof place) != 0) {
        touches_ = bike.touchesPolygons(list);
        std::memcpy(bikePlace_, place, sizeof place);
        touchKnown_ = true;
    }
    return touches_;
}

void CeditorDrawCache::release()
{
    if (fillList_ != 0) {
        glDeleteLists(fillList_, 1);
        fillList_ = 0;
    }
    fillShape_.clear();
    drawnShape_.clear();
    fillChanged_ = true;
    touchKnown_ = false;
}
