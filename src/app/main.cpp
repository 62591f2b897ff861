// Velto: the start-up dialog, from which the game and the editor run.
#include "app/FormView.h"
#include "app/MenuHandlers.h"
#include "editor/EditorWindow.h"
#include "editor/TestRide.h"
#include "game/GameWindow.h"
#include "platform/MenuDialog.h"
#include "platform/RenderWindow.h"

#include "model/Version.h"

#include <cfenv>
#include <cstdio>

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
    // `velto --version` answers on the console and opens no window; any
    // other command line is ignored.
    if (asksForVersion(argc, argv)) {
        std::fputs(versionLine("velto").c_str(), stdout);
        return 0;
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

    startDialog = &MenuDialog;
    setStartDialogHider(hideStartDialog);

    handlers.FormCreate();
    MenuDialog.show();
    MenuDialog.run();
    handlers.FormDestroy();

    setTestRideSettings(nullptr);
    setStartDialogHider(nullptr);
    startDialog = nullptr;
    return 0;
}
