#include "editor/Publish.h"

#include "editor/Editor.h"
#include "model/FileAccess.h"
#include "model/Globals.h"
#include "model/Replay.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBox.h"

#include <chrono>

namespace {

TrackPublisher publisher;
// The editor's own answer (a refusal before anything left), and until when
// a line stays.
std::string ownLine;
bool asked = false;
std::chrono::steady_clock::time_point shownUntil;
constexpr auto kLineTime = std::chrono::seconds(10);

void say(const std::string& line)
{
    ownLine = line;
    asked = false;
    shownUntil = std::chrono::steady_clock::now() + kLineTime;
}

// The file at `path` holds what the editor would write (its best time
// aside).
bool savedAsShown(const std::string& path)
{
    std::string shown;
    std::string stored;
    std::string error;
    if (!trackBytes(shown, -1.0, *startPoint, *finishPoint, polygonCount, editorPolygons, appleCount,
                    editorApples) ||
        readBoundedFile(path, shown.size() + 1, stored, error) != FileReadError::None) {
        return false;
    }
    return stored.size() == shown.size() && stored.compare(8, std::string::npos, shown, 8, std::string::npos) == 0;
}

} // namespace

void setTrackPublisher(TrackPublisher value)
{
    publisher = std::move(value);
}

void publishKey()
{
    if (drawingPolygon) {
        return;
    }
    std::string why = "no hub is set";
    if (!publisher.ready || !publisher.ready(why)) {
        say("Not published: " + why);
        return;
    }
    // The checks of a save, with their messages.
    if (!startFitToRide()) {
        say("Not published: the bike cannot start there");
        return;
    }
    std::string path = trackPath;
    if (path.empty() || !savedAsShown(path)) {
        if (path.empty() && !runSaveDialog(path)) {
            say("Not published: the track is not saved");
            return;
        }
        if (!writeTrack(path, -1.0, *startPoint, *finishPoint, polygonCount, editorPolygons, appleCount,
                        editorApples)) {
            messageBox("Cant't save the track.", "Error", MB_ICONEXCLAMATION);
            say("Not published: the track cannot be saved");
            return;
        }
        trackPath = path;
        editorBestTime = -1.0;
    }
    // The author's finish on exactly this track goes with it.
    Replay best;
    std::string error;
    uint64_t digest = 0;
    if (readReplayFile(bestReplayPath(path), best, error) != ReplayReadError::None ||
        best.result != ReplayFinished || !trackDigest(path, digest) || best.digest != digest) {
        say("Not published: it needs a finish of your own first. Ride " + fileNameOf(path) +
            " to the finish in the game (a test ride keeps no run)");
        return;
    }
    ownLine.clear();
    asked = true;
    shownUntil = std::chrono::steady_clock::now() + kLineTime;
    publisher.start(path, formatReplay(best));
}

std::string publishLine()
{
    if (asked && publisher.line) {
        const std::string line = publisher.line();
        // An answer stays for a while once it has come.
        if (line.rfind("Publishing", 0) == 0) {
            shownUntil = std::chrono::steady_clock::now() + kLineTime;
        }
        return std::chrono::steady_clock::now() < shownUntil ? line : std::string();
    }
    return std::chrono::steady_clock::now() < shownUntil ? ownLine : std::string();
}

void clearPublishLine()
{
    ownLine.clear();
    asked = false;
}
