// The start-up dialog's behaviour: reading and writing the settings file,
// and the handlers of its buttons, radio buttons, path edit and keys.
#pragma once

#include "app/MenuView.h"

#include <cstdint>
#include <functional>
#include <string>

class MenuHandlers {
public:
    explicit MenuHandlers(MenuView& view);

    // The modes and the program folder; main sets the real ones, tests their own.
    std::function<void()> runGameMode;
    std::function<void()> runEditorMode;
    std::function<std::string()> programFolder;
    // The settings file, relative to the current directory of the moment.
    std::string settingsPath = "Velto.dat";

    void FormCreate();
    void FormDestroy();
    void FormKeyDown(int key);
    void GameClick();
    void EditorClick();
    void LoadTrackRadioClick();
    void loadButtonClick();
    void pathChange();

private:
    // The three edits as integers; false after reporting the first that is
    // not a whole number.
    bool readModeSize(int32_t& width, int32_t& height, int32_t& bits);
    // readModeSize into modeWidth, modeHeight and modeBits.
    bool storeModeSize();
    void setPath(const std::string& text);

    MenuView& view;
};

// The folder of the running executable (its real path, links resolved);
// empty when it cannot be found.
std::string executableFolder();
