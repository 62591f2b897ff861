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

// Reads the whole file at `path`, which must be a regular file (a FIFO or a
// device is refused at once rather than waited on). The list shape follows `gameMode`: in the
// editor every polygon node is followed by an empty node (P polygons give
// P + 1 nodes), in the game it is not. The pointer outputs and the counts are
// cleared first; whatever was built stays in the caller's variables, also on
// failure, and the caller frees it. A polygon record with a vertex count of
// zero or less reads no vertices and keeps one zero vertex with its count as
// read. Returns true when the whole file was read. Shows no message.
bool loadTrack(const std::string& path, Cvector*& start, Cvector*& finish, int32_t& polygonCount,
               Cpolygons*& polygons, int32_t& appleCount, Capples*& apples, double& bestTime);

// A whole track read for looking at (a list, a picture, an outline): it
// owns what loadTrack built and frees it, also after a failed read.
struct TrackContents {
    Cvector* start = nullptr;
    Cvector* finish = nullptr;
    int32_t polygonCount = 0;
    Cpolygons* polygons = nullptr;
    int32_t appleCount = 0;
    Capples* apples = nullptr;
    double bestTime = -1.0;

    TrackContents() = default;
    TrackContents(const TrackContents&) = delete;
    TrackContents& operator=(const TrackContents&) = delete;
    ~TrackContents()
    {
        delete start;
        delete finish;
        delete polygons;
        delete apples;
    }

    bool load(const std::string& path)
    {
        return loadTrack(path, start, finish, polygonCount, polygons, appleCount, apples, bestTime);
    }
};

// The same reading from an open stream, from its current position; the
// stream is not closed. A null stream fails like a file that cannot be opened.
bool loadTrackStream(std::FILE* file, Cvector*& start, Cvector*& finish, int32_t& polygonCount,
                     Cpolygons*& polygons, int32_t& appleCount, Capples*& apples, double& bestTime);

// Widens trackBounds so that it holds `point`.
void extendTrackBounds(const Cvector& point);

// Writes a whole track: best time, start, finish, the first `polygonCount`
// polygons of the list (count, then the chain's first `count` vertices) and
// the first `appleCount` apples, into the file that `path` finally names
// (symbolic links followed). An existing file is written only when the user
// may write it, and keeps its permission bits. The track is written into a
// new file beside the target and renamed over it, so a failure or a kill
// never leaves a damaged track; a killed save leaves at most one hidden file
// beside it, which the next save of that track clears. Where no such file
// can stand in for the target (the folder is not writable, the name is too
// long, another owner, a second hard link), the target is written in place.
// Returns false, with nothing changed, when the lists are shorter than the
// counts or the file may not be written; false on a write failure.
bool writeTrack(const std::string& path, double bestTime, const Cvector& start, const Cvector& finish,
                int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount,
                const Capples* apples);

// The bytes writeTrack writes for the same arguments, in memory; false
// when the lists are shorter than the counts.
bool trackBytes(std::string& bytes, double bestTime, const Cvector& start, const Cvector& finish,
                int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount, const Capples* apples);

// False makes writeTrack name its new file from the start, as it does where
// the file system cannot make unnamed files; for tests.
extern bool trackSavesUnnamed;

// Overwrites the 8 bytes at offset 0 of an existing track file with `time`
// and leaves the rest untouched. Returns false when the file cannot be
// opened or written.
bool rewriteBestTime(const std::string& path, double time);
