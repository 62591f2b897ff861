// The rows of the game's track list: every track file of a folder in
// file-name order with its best time, par and medal. No drawing here (see
// TrackListView.h), so the rows can be tested without a window.
//
// Opening a list reads only the folder and its par index; each track file is
// read when its row is first wanted, so a folder of hundreds of tracks opens
// at once and fills in over the following frames. A file that cannot be read
// stays in the list, marked as such. Main thread only (loadTrack's module
// state).
#pragma once

#include "model/ParTimes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TrackRow {
    enum class State { Unread, Ready, Broken };
    std::string path;
    std::string name;          // file name without ".vlt"
    State state = State::Unread;
    double bestTime = -1.0;    // days, from the file; -1 = none
    uint64_t digest = 0;
    int32_t parSteps = -1;     // -1 = no par
    Medal medal = Medal::None; // of the best time against the par
    int32_t worldSteps = -1;   // the hub's record, when a hub is set and has one
};

// A column of the list: its heading, its width in characters and its text
// for a row that has been read.
struct TrackColumn {
    const char* heading;
    int width;
    std::string (*text)(const TrackRow& row);
};
// Track, best, par, medal; with `world` (a hub is set) the hub's record
// stands beside the best.
const std::vector<TrackColumn>& trackColumns(bool world = false);

struct MedalCount {
    int gold = 0;
    int silver = 0;
    int bronze = 0;
};

class TrackList {
public:
    // Lists the folder of `currentTrack` and reads its par index; the
    // current track's row is selected (the first row when it is not listed).
    void open(const std::string& currentTrack);
    void clear();

    std::vector<TrackRow> rows;
    size_t selected = 0;

    // Reads row `i` if it is unread.
    void read(size_t i);
    // Reads row `i` again, whatever it was: the file may have changed since.
    void reread(size_t i);
    // Reads unread rows, those in [from, to) first and then (unless
    // `onlyThese`) the rest in order, until `budget` has passed (at least
    // one row is read when any is unread).
    void readSome(size_t from, size_t to, std::chrono::steady_clock::duration budget, bool onlyThese = false);
    bool allRead() const { return unread == 0; }
    // Over the rows read so far.
    MedalCount medals() const;

private:
    ParTimes pars;
    size_t unread = 0;
    size_t readCursor = 0;
};

// The first track after `currentTrack` in its folder, in file-name order,
// that can be read; empty when there is none.
std::string nextReadableTrack(const std::string& currentTrack);
