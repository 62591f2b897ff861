#include "TrackShape.h"

#include "model/Globals.h"
#include "model/TrackFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>

namespace hub {
namespace {

std::mutex readerLock;

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::isfinite(v) ? v : 0.0);
    return text;
}

}  // namespace

bool readTrackShape(const std::string& path, TrackShape& shape)
{
    shape = TrackShape{};
    std::lock_guard<std::mutex> guard(readerLock);
    gameMode = true;
    TrackContents track;
    const bool ok = track.load(path);
    if (ok) {
        shape.start = {track.start->x, track.start->y};
        shape.finish = {track.finish->x, track.finish->y};
        for (const Cpolygons* node = track.polygons; node != nullptr; node = node->next) {
            if (node->polygon == nullptr) {
                continue;
            }
            std::vector<std::pair<double, double>> points;
            for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
                points.emplace_back(v->x, v->y);
            }
            shape.polygons.push_back(std::move(points));
        }
        for (const Capples* a = track.apples; a != nullptr; a = a->next) {
            shape.apples.emplace_back(a->x, a->y);
        }
    }
    return ok;
}

TrackCheck checkTrackFile(const std::string& path, std::string& canonical, std::string& why)
{
    canonical.clear();
    std::string original;
    {
        std::ifstream in(path, std::ios::binary);
        original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::lock_guard<std::mutex> guard(readerLock);
    gameMode = true;
    TrackContents track;
    if (!track.load(path)) {
        why = "The file ends before the data its counts announce.";
        return TrackCheck::Unreadable;
    }
    auto finite = [](double x, double y) { return std::isfinite(x) && std::isfinite(y); };
    if (!finite(track.start->x, track.start->y) || !finite(track.finish->x, track.finish->y)) {
        why = "its start or finish is not a finite number";
        return TrackCheck::Refused;
    }
    for (const Cpolygons* node = track.polygons; node != nullptr; node = node->next) {
        for (const Cvertex* v = node->polygon != nullptr ? node->polygon->first : nullptr; v != nullptr; v = v->next) {
            if (!finite(v->x, v->y)) {
                why = "a point of its ground is not a finite number";
                return TrackCheck::Refused;
            }
        }
    }
    for (const Capples* a = track.apples; a != nullptr; a = a->next) {
        if (!finite(a->x, a->y)) {
            why = "an apple's place is not a finite number";
            return TrackCheck::Refused;
        }
    }
    if (!trackBytes(canonical, -1.0, *track.start, *track.finish, track.polygonCount, track.polygons,
                    track.appleCount, track.apples) ||
        original.size() < sizeof(double)) {
        why = "The file ends before the data its counts announce.";
        return TrackCheck::Unreadable;
    }
    original.replace(0, sizeof(double), canonical, 0, sizeof(double));
    if (original.size() > canonical.size() && original.compare(0, canonical.size(), canonical) == 0) {
        why = std::to_string(original.size() - canonical.size()) + " bytes follow the track's end";
        return TrackCheck::Refused;
    }
    if (original != canonical) {
        size_t at = 0;
        while (at < original.size() && at < canonical.size() && original[at] == canonical[at]) {
            ++at;
        }
        why = "from byte " + std::to_string(at) + " it is not in the form the game writes tracks";
        return TrackCheck::Refused;
    }
    return TrackCheck::Canonical;
}

std::string trackSvg(const TrackShape& shape)
{
    // The view holds everything drawn, clamped to the playing field, with
    // a margin; y grows upwards in the world and downwards in SVG.
    double minX = std::min(shape.start.first, shape.finish.first);
    double maxX = std::max(shape.start.first, shape.finish.first);
    double minY = std::min(shape.start.second, shape.finish.second);
    double maxY = std::max(shape.start.second, shape.finish.second);
    auto extend = [&](const std::pair<double, double>& p) {
        if (!std::isfinite(p.first) || !std::isfinite(p.second)) {
            return;
        }
        minX = std::min(minX, p.first);
        maxX = std::max(maxX, p.first);
        minY = std::min(minY, p.second);
        maxY = std::max(maxY, p.second);
    };
    for (const auto& polygon : shape.polygons) {
        for (const auto& p : polygon) {
            extend(p);
        }
    }
    for (const auto& a : shape.apples) {
        extend(a);
    }
    minX = std::clamp(minX, -8000.0, 8000.0) - 100.0;
    maxX = std::clamp(maxX, -8000.0, 8000.0) + 100.0;
    minY = std::clamp(minY, -6000.0, 6000.0) - 100.0;
    maxY = std::clamp(maxY, -6000.0, 6000.0) + 100.0;
    const double width = std::max(maxX - minX, 1.0);
    const double height = std::max(maxY - minY, 1.0);
    const double stroke = std::max(width, height) / 400.0;

    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"outline\" viewBox=\"" + number(minX) + " " +
                      number(-maxY) + " " + number(width) + " " + number(height) +
                      "\" preserveAspectRatio=\"xMidYMid meet\" role=\"img\" aria-label=\"track outline\">\n";
    // Its own style: the picture is a file of its own, shown by the track's page.
    svg += "<style>.sky{fill:#cfe6f5}.ground{fill:#8a6a45;stroke:#4b3621}.apple{fill:#d62828}"
           ".start{fill:#2a9d4b;stroke:#fff;stroke-width:6}.finish{fill:#f2c200;stroke:#222;stroke-width:6}</style>\n";
    svg += "<rect x=\"" + number(minX) + "\" y=\"" + number(-maxY) + "\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" class=\"sky\"/>\n";
    // One path with every polygon; overlapping ground is holes, as the game fills it.
    // A page stays a page: at most this many vertices are drawn.
    size_t budget = 200000;
    svg += "<path class=\"ground\" fill-rule=\"evenodd\" stroke-width=\"" + number(stroke) + "\" d=\"";
    for (const auto& polygon : shape.polygons) {
        bool first = true;
        if (polygon.size() > budget) {
            break;
        }
        budget -= polygon.size();
        for (const auto& p : polygon) {
            if (!std::isfinite(p.first) || !std::isfinite(p.second)) {
                continue;
            }
            svg += first ? "M" : "L";
            svg += number(p.first) + " " + number(-p.second) + " ";
            first = false;
        }
        if (!first) {
            svg += "Z ";
        }
    }
    svg += "\"/>\n";
    // Marks stay visible on a large track; an apple is never drawn smaller
    // than it is.
    const double mark = std::max(40.0, std::max(width, height) / 60.0);
    const std::string appleRadius = number(std::max(20.0, mark / 2.0));
    for (size_t i = 0; i < shape.apples.size() && i < 10000; ++i) {
        const auto& a = shape.apples[i];
        svg += "<circle class=\"apple\" cx=\"" + number(a.first) + "\" cy=\"" + number(-a.second) + "\" r=\"" +
               appleRadius + "\"/>\n";
    }
    svg += "<circle class=\"start\" cx=\"" + number(shape.start.first) + "\" cy=\"" + number(-shape.start.second) +
           "\" r=\"" + number(mark) + "\"><title>start</title></circle>\n";
    svg += "<circle class=\"finish\" cx=\"" + number(shape.finish.first) + "\" cy=\"" + number(-shape.finish.second) +
           "\" r=\"" + number(mark) + "\"><title>finish</title></circle>\n";
    svg += "</svg>\n";
    return svg;
}

}  // namespace hub
