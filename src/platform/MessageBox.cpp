#include "platform/MessageBox.h"

#include <SDL.h>

#include <utility>
#include <vector>

namespace {

MessageBoxHandler messageBoxHandler;

Uint32 iconFlags(unsigned flags)
{
    switch (flags & 0xF0) {
    case MB_ICONERROR: return SDL_MESSAGEBOX_ERROR;
    case MB_ICONEXCLAMATION: return SDL_MESSAGEBOX_WARNING;
    default: return SDL_MESSAGEBOX_INFORMATION;
    }
}

} // namespace

void setMessageBoxHandler(MessageBoxHandler handler)
{
    messageBoxHandler = std::move(handler);
}

int messageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    if (messageBoxHandler) {
        return messageBoxHandler(text, caption, flags);
    }

    constexpr Uint32 returnKey = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    constexpr Uint32 escapeKey = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    std::vector<SDL_MessageBoxButtonData> buttons;
    switch (flags & 0x0F) {
    case MB_YESNOCANCEL:
        buttons = {{returnKey, IDYES, "Yes"}, {0, IDNO, "No"}, {escapeKey, IDCANCEL, "Cancel"}};
        break;
    case 0x0004: // MB_YESNO
        buttons = {{returnKey, IDYES, "Yes"}, {escapeKey, IDNO, "No"}};
        break;
    case 0x0001: // MB_OKCANCEL
        buttons = {{returnKey, IDOK, "OK"}, {escapeKey, IDCANCEL, "Cancel"}};
        break;
    default:
        buttons = {{returnKey | escapeKey, IDOK, "OK"}};
        break;
    }

    // No owner window: the box is modal to the whole program.
    SDL_MessageBoxData box{};
    box.flags = iconFlags(flags) | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    box.window = nullptr;
    box.title = caption.c_str();
    box.message = text.c_str();
    box.numbuttons = static_cast<int>(buttons.size());
    box.buttons = buttons.data();

    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) != 0 || pressed < 0) {
        return IDCANCEL;
    }
    return pressed;
}
