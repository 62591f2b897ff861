// Temporary stand-ins for the window layer until it is built; only the
// input tests link them.
#include "platform/MessageBox.h"
#include "platform/RenderWindow.h"

namespace {
MessageBoxHandler boxHandler;
int cursorCount = 0;
}

int messageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    return boxHandler ? boxHandler(text, caption, flags) : IDCANCEL;
}
void setMessageBoxHandler(MessageBoxHandler handler) { boxHandler = std::move(handler); }
bool openRenderWindow(const char*, int, int, bool) { return false; }
void showRenderWindow() {}
void resizeView(int, int) {}
void initRenderState() {}
void presentFrame() {}
void closeRenderWindow() {}
PumpResult pumpMessage() { return PumpResult::Quit; }
void postQuitMessage() {}
int showCursor(bool show) { return show ? ++cursorCount : --cursorCount; }
void setStartDialogHider(void (*)()) {}
