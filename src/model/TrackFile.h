// Track files (".vlt"): little-endian, no header.
//
//   0   double  best time in days, -1 = none
//   8   double  start x, start y
//   24  double  finish x, finish y
//   40  int32   polygon count P, then P records: int32 N, N x (double x, double y)
//   ..  int32   apple count A, then A x (double x, double y)
//
// The reader never trusts a count: it allocates only for bytes it has read
// and fails cleanly at the end of the file. Counts of zero or less read as
// empty sections and come back as 0, the number of items read. Main thread
// only: it works through the module state below.
#pragma once

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/Vectors.h"

#include <cstdint>
#include <cstdio>
#include <string>

struct TrackBounds {
    double minX = 0.0;
    double maxX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
};

// Left by loadTrack for the editor, which keeps them as its own state.
extern TrackBounds trackBounds;     // every point read: start, finish, vertices, apples
extern Cpolygons* polygonTail;      // last node of the list built
extern Cpolygons* activePolygon;    // the node before it, or none
extern Capples* activeApple;        // the last apple read, or none

// Reads the whole file at `path`. The list shape follows `gameMode`: in the
// editor every polygon node is followed by an empty node (P polygons give
// P + 1 nodes), in the game it is not. The pointer outputs and the counts are
// cleared first; whatever was built stays in the caller's variables, also on
// failure, and the caller frees it. A polygon record with a vertex count of
// zero or less reads no vertices and keeps one zero vertex with its count as
// read. Returns true when the whole file was read. Shows no message.
bool loadTrack(const std::string& path, Cvector*& start, Cvector*& finish, int32_t& polygonCount,
               Cpolygons*& polygons, int32_t& appleCount, Capples*& apples, double& bestTime);

// The same reading from an open stream, from its current position; the
// stream is not closed. A null stream fails like a file that cannot be opened.
bool loadTrackStream(std::FILE* file, Cvector*& start, Cvector*& finish, int32_t& polygonCount,
                     Cpolygons*& polygons, int32_t& appleCount, Capples*& apples, double& bestTime);

// Widens trackBounds so that it holds `point`.
void extendTrackBounds(const Cvector& point);

// Writes a whole track: best time, start, finish, the first `polygonCount`
// polygons of the list (count, then the chain's first `count` vertices) and
// the first `appleCount` apples. The file is written beside the target under
// a temporary name, flushed and renamed over it, so a failure never leaves a
// damaged or half-written track behind. Returns false on any failure.
bool writeTrack(const std::string& path, double bestTime, const Cvector& start, const Cvector& finish,
                int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount,
                const Capples* apples);

// Overwrites the 8 bytes at offset 0 of an existing track file with `time`
// and leaves the rest untouched. Returns false when the file cannot be
// opened or written.
bool rewriteBestTime(const std::string& path, double time);
