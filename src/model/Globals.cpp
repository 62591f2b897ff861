#include "model/Globals.h"

bool gameMode = false;
bool fullscreen = false;
bool showFPS = false;
int32_t modeWidth = 800;
int32_t modeHeight = 600;
int32_t modeBits = 32;
std::string trackPath;

std::atomic<bool> keyDown[256];
std::atomic<int32_t> mouseX{0};
std::atomic<int32_t> mouseY{0};
std::atomic<int32_t> mouseButtons{0};
std::atomic<bool> windowActive{false};
std::atomic<bool> closeRequested{false};
std::atomic<int32_t> viewWidth{0};
std::atomic<int32_t> viewHeight{0};

bool leftHeld = false;
bool rightHeld = false;

void clearKeys()
{
    for (auto& key : keyDown) {
        key = false;
    }
}
