#include "editor/TestRide.h"

#include "editor/Editor.h"
#include "game/GameHub.h"
#include "game/GameWindow.h"
#include "gfx/Tessellator.h"
#include "model/Globals.h"
#include "model/TrackFile.h"
#include "platform/MessageBox.h"
#include "platform/RenderWindow.h"

#include <GL/gl.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace {

TestRideSettingsSource settingsSource;
bool rideDue = false;

// A new, empty folder only this ride uses; empty when none can be made.
std::string makeRideFolder()
{
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error) {
        return std::string();
    }
    std::string folder = (temp / "velto-ride-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        return std::string();
    }
    return folder;
}

// The values that the game's track reader leaves behind are the editor's
// own state; they are kept over the ride.
struct EditorTrackState {
    std::string path = trackPath;
    Cpolygons* tail = polygonTail;
    Cpolygons* polygon = activePolygon;
    Capples* apple = activeApple;
    TrackBounds bounds = trackBounds;

    void restore() const
    {
        trackPath = path;
        polygonTail = tail;
        activePolygon = polygon;
        activeApple = apple;
        trackBounds = bounds;
    }
};

} // namespace

void setTestRideSettings(TestRideSettingsSource source)
{
    settingsSource = std::move(source);
}

void requestTestRide()
{
    if (drawingPolygon) {
        return;
    }
    if (startFitToRide()) {
        rideDue = true;
    }
}

bool takeTestRideRequest()
{
    const bool due = rideDue;
    rideDue = false;
    return due;
}

bool runTestRide()
{
    const std::string folder = makeRideFolder();
    const std::string path = folder + "/ride.vlt";
    if (folder.empty() || !writeTrack(path, -1.0, *startPoint, *finishPoint, polygonCount, editorPolygons,
                                      appleCount, editorApples)) {
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
        messageBox("Cant't write the track for the test ride.", "Error", MB_ICONEXCLAMATION);
        return true;
    }

    TestRideSettings settings;
    settings.showFPS = showFPS;
    if (settingsSource) {
        settings = settingsSource();
    }
    const EditorTrackState kept;
    const bool editorShowFPS = showFPS;
    std::error_code ignored;
    const std::filesystem::path editorFolder = std::filesystem::current_path(ignored);
    if (!settings.folder.empty()) {
        std::filesystem::current_path(settings.folder, ignored);
    }

    // The window and its display lists go; the editor's are rebuilt after.
    releaseEditorDrawings();
    closeRenderWindow();
    gameMode = true;
    fullscreen = settings.fullscreen;
    showFPS = settings.showFPS;
    trackPath = path;
    // A ride leaves nothing behind, on a hub neither.
    setHubSending(false);
    testRideActive = true;
    runGame();
    testRideActive = false;
    setHubSending(true);
    gameMode = false;
    fullscreen = false;
    showFPS = editorShowFPS;
    kept.restore();
    if (!settings.folder.empty() && !editorFolder.empty()) {
        std::filesystem::current_path(editorFolder, ignored);
    }
    std::filesystem::remove_all(folder, ignored);

    if (!openRenderWindow("Velto", modeWidth, modeHeight, false)) {
        return false;
    }
    // The game deleted the shared tessellator and set up the drawing its way.
    createTessellator();
    glLineWidth(3.0f);
    clearKeys();
    closeRequested = false;
    // A button still down from the ride is not a press in the editor.
    leftHeld = true;
    rightHeld = true;
    showRenderWindow();
    return true;
}
