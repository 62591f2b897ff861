// F6 in the editor: the track goes to the hub as its author's, with the
// author's best run on it, which the hub rides like any run (so no track
// that cannot be finished is ever listed there). The track is saved first
// when the editor holds changes, after the checks a save makes; a track
// published before from the same file goes up as its new version.
//
// The editor knows no hub: the program hands it the way there
// (setTrackPublisher), so that the modes stay apart. The answer comes while
// the editor goes on, in a line drawn over it. Main thread only.
#pragma once

#include <functional>
#include <string>

struct TrackPublisher {
    // A hub is set; otherwise why the track cannot go.
    std::function<bool(std::string& why)> ready;
    // Starts publishing the saved track at `path` with its best run
    // (`replayText`); returns at once.
    std::function<void(const std::string& path, const std::string& replayText)> start;
    // What became of it so far: "Publishing ...", "Published: ...", or why
    // not; "" before anything was asked.
    std::function<std::string()> line;
};
// Set by the program; without one F6 says there is no hub.
void setTrackPublisher(TrackPublisher publisher);

// F6 in a frame of the editor.
void publishKey();
// The line the editor shows, or "".
std::string publishLine();
// The line goes (a new editor).
void clearPublishLine();
