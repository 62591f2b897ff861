// Vertex chains, polygons and the polygon list: ownership and editing.
// Drawing and the tessellator checks live in gfx.
#include "model/Polygon.h"

Cvertex::~Cvertex()
{
    // Free the rest of the chain one vertex at a time: each vertex is
    // detached before it is deleted, so no destructor recurses.
    Cvertex* v = next;
    next = nullptr;
    while (v != nullptr) {
        Cvertex* following = v->next;
        v->next = nullptr;
        delete v;
        v = following;
    }
}

Cpolygon::~Cpolygon()
{
    delete first;
    first = nullptr;
}

void Cpolygon::addVertex(double x, double y)
{
    Cvertex* v = new Cvertex(x, y);
    count = count + 1;
    if (first == nullptr) {
        first = v;
        return;
    }
    Cvertex* last = first;
    while (last->next != nullptr) {
        last = last->next;
    }
    last->next = v;
}

void Cpolygon::translate(double dx, double dy)
{
    for (Cvertex* v = first; v != nullptr; v = v->next) {
        v->addXY(dx, dy);
    }
}

Cpolygons::~Cpolygons()
{
    // Every following node first (detached, so none of them recurses), then
    // this node's polygon.
    Cpolygons* node = next;
    next = nullptr;
    while (node != nullptr) {
        Cpolygons* following = node->next;
        node->next = nullptr;
        node->prev = nullptr;
        delete node;
        node = following;
    }
    delete polygon;
    polygon = nullptr;
}

Cpolygons* Cpolygons::removeNode(Cpolygons* node, Cpolygons*& head)
{
    if (node == nullptr) {
        return nullptr;
    }
    Cpolygons* result = nullptr;
    if (node->prev != nullptr) {
        node->prev->next = node->next;
        if (node->prev->polygon != nullptr) {
            result = node->prev;
        }
    }
    if (node->next != nullptr) {
        node->next->prev = node->prev;
        if (node->next->polygon != nullptr) {
            result = node->next;
        }
    }
    if (node->prev == nullptr) {
        head = node->next;
    }
    node->next = nullptr;
    node->prev = nullptr;
    delete node;
    return result;
}

bool insideGround(const Cpolygons* list, double x, double y)
{
    // A ray from the point towards +x crosses the outline of the filled
    // area an odd number of times exactly when the point is inside it. An
    // edge counts when its ends lie on different sides of the ray's line,
    // the lower end included and the upper one not, so a vertex on the ray
    // is counted once.
    bool inside = false;
    for (const Cpolygons* node = list; node != nullptr && node->polygon != nullptr; node = node->next) {
        const Cvertex* first = node->polygon->first;
        for (const Cvertex* a = first; a != nullptr; a = a->next) {
            const Cvertex* b = a->next != nullptr ? a->next : first;
            if ((a->y > y) != (b->y > y)) {
                const double crossX = a->x + (y - a->y) * (b->x - a->x) / (b->y - a->y);
                if (x < crossX) {
                    inside = !inside;
                }
            }
        }
    }
    return inside;
}
