#include "game/TrackList.h"

#include "model/Replay.h"
#include "model/RunTime.h"
#include "model/TrackFile.h"
#include "model/TrackFolder.h"

namespace {

std::string bestText(const TrackRow& row)
{
    return row.bestTime == -1.0 ? "-" : formatRunTime(row.bestTime);
}

std::string parText(const TrackRow& row)
{
    return row.parSteps < 0 ? "" : formatRunTime(runTimeOfSteps(row.parSteps));
}

std::string medalText(const TrackRow& row)
{
    return medalName(row.medal);
}

std::string nameOf(const std::string& path)
{
    std::string name = fileNameOf(path);
    return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
}

// Reads the whole track: it counts as readable only when the game could
// ride it.
bool readTrack(TrackRow& row)
{
    TrackContents track;
    const bool ok = track.load(row.path) && trackDigest(row.path, row.digest);
    if (ok) {
        row.bestTime = track.bestTime;
    }
    return ok;
}

} // namespace

const std::vector<TrackColumn>& trackColumns(bool world)
{
    static const std::vector<TrackColumn> columns = {
        {"track", 20, [](const TrackRow& row) { return row.name; }},
        {"best", 9, bestText},
        {"par", 9, parText},
        {"medal", 6, medalText},
    };
    static const std::vector<TrackColumn> withWorld = {
        columns[0],
        columns[1],
        {"world", 9,
         [](const TrackRow& row) { return row.worldSteps >= 0 ? formatRunTime(runTimeOfSteps(row.worldSteps)) : ""; }},
        columns[2],
        columns[3],
    };
    return world ? withWorld : columns;
}

void TrackList::clear()
{
    rows.clear();
    selected = 0;
    pars = ParTimes();
    unread = 0;
    readCursor = 0;
}

void TrackList::open(const std::string& currentTrack)
{
    clear();
    const std::string folder = folderOf(currentTrack);
    pars = ParTimes::readFolder(folder);
    const std::string currentName = fileNameOf(currentTrack);
    for (std::string& path : trackFilesIn(folder)) {
        TrackRow row;
        row.name = nameOf(path);
        if (fileNameOf(path) == currentName) {
            selected = rows.size();
        }
        row.path = std::move(path);
        rows.push_back(std::move(row));
    }
    unread = rows.size();
}

void TrackList::read(size_t i)
{
    if (i >= rows.size() || rows[i].state != TrackRow::State::Unread) {
        return;
    }
    TrackRow& row = rows[i];
    if (readTrack(row)) {
        row.state = TrackRow::State::Ready;
        row.parSteps = pars.parFor(fileNameOf(row.path), row.digest);
        row.medal = medalFor(stepsOfRunTime(row.bestTime), row.parSteps);
    } else {
        row.state = TrackRow::State::Broken;
    }
    --unread;
}

void TrackList::reread(size_t i)
{
    if (i >= rows.size()) {
        return;
    }
    if (rows[i].state != TrackRow::State::Unread) {
        rows[i].state = TrackRow::State::Unread;
        ++unread;
    }
    read(i);
}

void TrackList::readSome(size_t from, size_t to, std::chrono::steady_clock::duration budget, bool onlyThese)
{
    const auto end = std::chrono::steady_clock::now() + budget;
    bool first = true;
    const auto due = [&] { return first || std::chrono::steady_clock::now() < end; };
    for (size_t i = from; i < to && i < rows.size() && unread > 0 && due(); ++i) {
        if (rows[i].state == TrackRow::State::Unread) {
            read(i);
            first = false;
        }
    }
    while (!onlyThese && readCursor < rows.size() && unread > 0 && due()) {
        if (rows[readCursor].state == TrackRow::State::Unread) {
            read(readCursor);
            first = false;
        }
        ++readCursor;
    }
}

MedalCount TrackList::medals() const
{
    MedalCount count;
    for (const TrackRow& row : rows) {
        count.gold += row.medal == Medal::Gold ? 1 : 0;
        count.silver += row.medal == Medal::Silver ? 1 : 0;
        count.bronze += row.medal == Medal::Bronze ? 1 : 0;
    }
    return count;
}

std::string nextReadableTrack(const std::string& currentTrack)
{
    const std::vector<std::string> files = trackFilesIn(folderOf(currentTrack));
    std::string candidate = trackAfter(currentTrack, files);
    while (!candidate.empty()) {
        TrackRow row;
        row.path = candidate;
        if (readTrack(row)) {
            return candidate;
        }
        candidate = trackAfter(candidate, files);
    }
    return {};
}
