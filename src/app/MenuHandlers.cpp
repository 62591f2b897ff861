#include "app/MenuHandlers.h"

#include "app/Settings.h"
#include "model/Globals.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBox.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fileExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Reports a text that is not a whole number.
void reportNotInteger(const std::string& text)
{
    messageBox(notIntegerMessage(text), "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

} // namespace

std::string executableFolder()
{
    char* real = realpath("/proc/self/exe", nullptr);
    if (real == nullptr) {
        return {};
    }
    std::string path = real;
    std::free(real);
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

MenuHandlers::MenuHandlers(MenuView& view)
    : programFolder(executableFolder), view(view)
{
}

void MenuHandlers::FormCreate()
{
    MenuSettings settings;
    if (!readSettings(settingsPath, settings)) {
        return;
    }
    view.setWidthText(std::to_string(settings.width));
    view.setHeightText(std::to_string(settings.height));
    view.setBitsText(std::to_string(settings.bits));
    view.setShowFPSChecked(settings.showFPS);
    view.setFullscreenChecked(settings.fullscreen);
}

void MenuHandlers::FormDestroy()
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;
    if (!readModeSize(width, height, bits)) {
        return;
    }
    MenuSettings settings;
    settings.width = static_cast<uint16_t>(static_cast<uint32_t>(width) & 0xFFFFu);
    settings.height = static_cast<uint16_t>(static_cast<uint32_t>(height) & 0xFFFFu);
    settings.bits = static_cast<uint8_t>(static_cast<uint32_t>(bits) & 0xFFu);
    settings.showFPS = view.showFPSChecked();
    settings.fullscreen = view.fullscreenChecked();
    writeSettings(settingsPath, settings); // a settings file that cannot be written is ignored
}

void MenuHandlers::FormKeyDown(int key)
{
    if (key == VK_ESCAPE) {
        view.terminate();
    }
}

void MenuHandlers::GameClick()
{
    std::string chosen;
    if (!runOpenDialog(chosen)) {
        return;
    }
    // Textures and the dialogs' ./tracks are found beside the program.
    const std::string folder = programFolder ? programFolder() : std::string();
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
        // Staying in the current folder: the mode reports what it cannot find.
    }
    view.setLoadingVisible(true);
    view.repaint();
    showFPS = view.showFPSChecked();
    fullscreen = view.fullscreenChecked();
    gameMode = true;
    if (!storeModeSize()) {
        view.setLoadingVisible(false);
        return;
    }
    trackPath = chosen;
    if (runGameMode) {
        runGameMode();
    }
    view.setLoadingVisible(false);
    view.showDialog();
}

void MenuHandlers::EditorClick()
{
    const bool loadTrack = view.loadTrackChecked();
    if (loadTrack && !fileExists(view.pathText())) {
        messageBox("File doesn't exist", "Error", MB_ICONWARNING | MB_TASKMODAL);
        return;
    }
    view.setLoadingVisible(true);
    gameMode = false;
    if (!loadTrack) {
        setPath(std::string());
    }
    view.repaint();
    if (!storeModeSize()) {
        view.setLoadingVisible(false);
        return;
    }
    // The save dialog proposes this same path when the editor saves.
    trackPath = view.pathText();
    if (runEditorMode) {
        runEditorMode();
    }
    view.setLoadingVisible(false);
    view.showDialog();
}

void MenuHandlers::LoadTrackRadioClick()
{
    if (view.pathText().empty()) {
        loadButtonClick();
    }
}

void MenuHandlers::loadButtonClick()
{
    std::string chosen;
    if (runOpenDialog(chosen)) {
        setPath(chosen);
    }
    if (!view.pathText().empty()) {
        view.checkLoadTrack();
    }
}

void MenuHandlers::pathChange()
{
    if (!view.pathText().empty()) {
        view.checkLoadTrack();
    }
}

bool MenuHandlers::readModeSize(int32_t& width, int32_t& height, int32_t& bits)
{
    const std::string texts[3] = {view.widthText(), view.heightText(), view.bitsText()};
    int32_t* values[3] = {&width, &height, &bits};
    for (int i = 0; i < 3; ++i) {
        if (!textToInt(texts[i], *values[i])) {
            reportNotInteger(texts[i]);
            return false;
        }
    }
    return true;
}

bool MenuHandlers::storeModeSize()
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;
    if (!readModeSize(width, height, bits)) {
        return false;
    }
    modeWidth = width;
    modeHeight = height;
    modeBits = bits;
    return true;
}

void MenuHandlers::setPath(const std::string& text)
{
    const bool changed = text != view.pathText();
    view.setPathText(text);
    if (changed) {
        pathChange();
    }
}
