// The shipped track pack, as geometry: each track is a list of polygons
// (odd winding: a polygon inside another is a hole), apples, a start and a
// finish, plus a route of waypoints that the key-script search follows.
// Curves use the core's own sine and cosine (model/SinCos.h), so that every
// machine generates the same bytes and the proof replays' track digests hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Point {
    double x = 0.0;
    double y = 0.0;
};

struct TrackDesign {
    std::string name;            // file name without ".vlt"
    Point start;                 // the bike's frame position
    Point finish;
    std::vector<std::vector<Point>> polygons;
    std::vector<Point> apples;
    std::vector<Point> route;    // waypoints in riding order, ending at the finish
    bool sharpCorners = false;   // spikes and slivers are the track's idea
};

// Every track of the pack, from the first gentle ride to the hardest, in
// name order (the names start with the track's number).
std::vector<TrackDesign> trackPack();

// The pack's first tracks, easy to medium (FirstTracks.cpp).
std::vector<TrackDesign> firstTracks();

// The pack's harder, longer half (HardTracks.cpp), after the first tracks.
std::vector<TrackDesign> harderTracks();

// A generated big track of about `edges` edges (not part of the pack): floors
// stacked up the world with pits, steps, low ceilings and buried pebbles.
// The same arguments give the same track.
TrackDesign bigTrack(int edges, uint32_t seed);

// The pack's first track with one more polygon of `vertices` random points
// in a box of 2400 by 1800 about the start, its edges crossing each other
// everywhere (StressTracks.cpp).
TrackDesign tangledTrack(int vertices, uint32_t seed);
// The pack's first track with `count` more apples at random over the world.
TrackDesign appleTrack(int count, uint32_t seed);
// The pack's first track with one more polygon of `edges` edges, each about
// the world's width long, in a band from y -5900 to -5000, far below the
// ride; fewer than 3 edges give the first track as it is.
TrackDesign farEdgesTrack(int edges, uint32_t seed);

// Writes one design as a track file, by default with no best time (-1).
// False on failure.
bool writeDesign(const TrackDesign& design, const std::string& path, double bestTime = -1.0);

// Problems with a design (empty when it is sound): a start that overlaps the
// ground or leaves the world, points outside the world.
std::vector<std::string> checkDesign(const TrackDesign& design);
