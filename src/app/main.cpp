// Velto: the start-up dialog, from which the game and the editor run.
#include "app/FormView.h"
#include "app/HubPublish.h"
#include "app/MenuHandlers.h"
#include "editor/EditorWindow.h"
#include "editor/TestRide.h"
#include "game/GameWindow.h"
#include "net/HubCommand.h"
#include "net/HubBrowse.h"
#include "net/HubService.h"
#include "platform/MenuDialog.h"
#include "platform/RenderWindow.h"

#include "model/Version.h"

#include <cfenv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

TMenuDialog* startDialog = nullptr;

void hideStartDialog()
{
    if (startDialog != nullptr) {
        startDialog->hide();
    }
}

} // namespace

int main(int argc, char** argv)
{
    // `velto --version` answers on the console and opens no window; so do
    // the hub's commands, and any other command line gets the usage and
    // status 2.
    if (asksForVersion(argc, argv)) {
        std::fputs(versionLine("velto").c_str(), stdout);
        return 0;
    }
    // The hub's files live in the folder the program starts in, beside Velto.dat.
    // The game changes the current folder later, so it is held as a full path.
    std::error_code noFolder;
    const HubFiles hubFiles{std::filesystem::current_path(noFolder).string()};
    const int status = runHubCommand(std::vector<std::string>(argv + 1, argv + argc), hubFiles, std::cout, std::cerr);
    if (status >= 0) {
        return status;
    }

    // Floating-point exceptions stay masked for the whole run: a division by
    // zero gives an infinity, never a signal.
    fedisableexcept(FE_ALL_EXCEPT);

    TMenuDialog MenuDialog;
    FormView view(MenuDialog);
    MenuHandlers handlers(view);
    handlers.runGameMode = runGame;
    handlers.runEditorMode = runEditor;
    connectForm(MenuDialog, handlers);
    // A test ride from the editor runs the game as the Game button would.
    setTestRideSettings([&view, &handlers] {
        TestRideSettings settings;
        settings.fullscreen = view.fullscreenChecked();
        settings.showFPS = view.showFPSChecked();
        settings.folder = handlers.programFolder ? handlers.programFolder() : std::string();
        return settings;
    });

    // F6 in the editor publishes through the hub the game joined.
    setTrackPublisher(hubTrackPublisher());

    startDialog = &MenuDialog;
    setStartDialogHider(hideStartDialog);

    // Only when the player registered on a hub; it sends what waits first.
    // The game's hub panel joins one there too.
    hubSetHome(hubFiles);
    hubStart(hubFiles);

    handlers.FormCreate();
    MenuDialog.show();
    MenuDialog.run();
    handlers.FormDestroy();
    browseStop();
    hubStop();

    setTestRideSettings(nullptr);
    setTrackPublisher(TrackPublisher{});
    setStartDialogHider(nullptr);
    startDialog = nullptr;
    return 0;
}
