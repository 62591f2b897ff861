#include "Tracks.h"

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/TrackFile.h"
#include "physics/Motorbike.h"
#include "physics/World.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace {

Cpolygons* buildList(const TrackDesign& design)
{
    Cpolygons* head = nullptr;
    Cpolygons* tail = nullptr;
    for (const auto& outline : design.polygons) {
        auto* node = new Cpolygons;
        node->polygon = new Cpolygon;
        // Appended at a kept tail: addVertex walks the chain every time.
        Cvertex* last = nullptr;
        for (const Point& v : outline) {
            auto* vertex = new Cvertex(v.x, v.y);
            if (last == nullptr) {
                node->polygon->first = vertex;
            } else {
                last->next = vertex;
            }
            last = vertex;
            node->polygon->count = node->polygon->count + 1;
        }
        if (tail == nullptr) {
            head = node;
        } else {
            tail->next = node;
            node->prev = tail;
        }
        tail = node;
    }
    return head;
}

Capples* buildApples(const TrackDesign& design)
{
    Capples* head = nullptr;
    Capples* tail = nullptr;
    for (const Point& a : design.apples) {
        auto* apple = new Capples(a.x, a.y);
        if (tail == nullptr) {
            head = apple;
        } else {
            tail->next = apple;
            apple->prev = tail;
        }
        tail = apple;
    }
    return head;
}

bool insideWorld(const Point& p)
{
    return p.x >= kWorldLeft && p.x <= kWorldRight && p.y >= kWorldBottom && p.y <= kWorldTop;
}

} // namespace

std::vector<TrackDesign> trackPack()
{
    std::vector<TrackDesign> pack = firstTracks();
    for (TrackDesign& design : harderTracks()) {
        pack.push_back(std::move(design));
    }
    // The numbers that start the names give the order, as the game's next
    // track and its list follow file names.
    std::stable_sort(pack.begin(), pack.end(),
                     [](const TrackDesign& a, const TrackDesign& b) { return a.name < b.name; });
    return pack;
}

bool writeDesign(const TrackDesign& design, const std::string& path, double bestTime)
{
    std::unique_ptr<Cpolygons> polygons(buildList(design));
    std::unique_ptr<Capples> apples(buildApples(design));
    const Cvector start(design.start.x, design.start.y);
    const Cvector finish(design.finish.x, design.finish.y);
    return writeTrack(path, bestTime, start, finish, static_cast<int32_t>(design.polygons.size()),
                      polygons.get(), static_cast<int32_t>(design.apples.size()), apples.get());
}

std::vector<std::string> checkDesign(const TrackDesign& design)
{
    std::vector<std::string> problems;
    std::unique_ptr<Cpolygons> polygons(buildList(design));
    Cmoto bike(0.0, 0.0);
    bike.setPosition(design.start.x, design.start.y);
    if (bike.touchesPolygons(polygons.get())) {
        problems.push_back("the bike at the start touches the ground");
    }
    if (bike.head->outsideRect(kWorldLeft, kWorldRight, kWorldBottom, kWorldTop)) {
        problems.push_back("the bike at the start is outside the world");
    }
    for (const auto& outline : design.polygons) {
        if (outline.size() < 3) {
            problems.push_back("a polygon has fewer than three vertices");
        }
        for (const Point& v : outline) {
            if (!insideWorld(v)) {
                problems.push_back("a vertex lies outside the world");
            }
        }
    }
    for (const Point& a : design.apples) {
        if (!insideWorld(a)) {
            problems.push_back("an apple lies outside the world");
        }
    }
    if (!insideWorld(design.finish)) {
        problems.push_back("the finish lies outside the world");
    }
    return problems;
}
