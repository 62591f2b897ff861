#include "platform/MessageBox.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <SDL.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

MessageBoxHandler messageBoxHandler;

// One button of a box, left to right: its answer, and whether Return or
// Escape chooses it.
struct BoxButton {
    int id;
    const char* label;
    bool returnKey;
    bool escapeKey;
};

std::vector<BoxButton> buttonsFor(unsigned flags)
{
    switch (flags & 0x0F) {
    case MB_YESNOCANCEL: return {{IDYES, "Yes", true, false}, {IDNO, "No", false, false}, {IDCANCEL, "Cancel", false, true}};
    case 0x0004: return {{IDYES, "Yes", true, false}, {IDNO, "No", false, true}};         // MB_YESNO
    case 0x0001: return {{IDOK, "OK", true, false}, {IDCANCEL, "Cancel", false, true}};   // MB_OKCANCEL
    default: return {{IDOK, "OK", true, true}};
    }
}

Uint32 iconFlags(unsigned flags)
{
    switch (flags & 0xF0) {
    case MB_ICONERROR: return SDL_MESSAGEBOX_ERROR;
    case MB_ICONEXCLAMATION: return SDL_MESSAGEBOX_WARNING;
    default: return SDL_MESSAGEBOX_INFORMATION;
    }
}

// SDL's box. False when it could not be shown at all (on X11 it needs the
// core fonts); closing it is IDCANCEL.
bool showSdlBox(const std::string& text, const std::string& caption, unsigned flags,
                const std::vector<BoxButton>& choices, int& answer)
{
    std::vector<SDL_MessageBoxButtonData> buttons;
    for (const BoxButton& choice : choices) {
        Uint32 keys = 0;
        keys |= choice.returnKey ? SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT : 0;
        keys |= choice.escapeKey ? SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT : 0;
        buttons.push_back({keys, choice.id, choice.label});
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
    if (SDL_ShowMessageBox(&box, &pressed) != 0) {
        return false;
    }
    answer = pressed < 0 ? IDCANCEL : pressed;
    return true;
}

// The same box drawn by FLTK (Xft fonts): icon and text above a row of
// buttons, Return and Escape as in SDL's box, Tab between the buttons.
// Runs FLTK's loop until it is answered.
int showFltkBox(const std::string& text, const std::string& caption, unsigned flags,
                const std::vector<BoxButton>& choices)
{
    constexpr int margin = 12, iconSize = 40, buttonWidth = 80, buttonHeight = 26, fontSize = 14;
    fl_open_display();
    // A label takes "@" for the start of a symbol; "@@" is the character.
    std::string label;
    for (char c : text) {
        label += c == '@' ? "@@" : std::string(1, c);
    }
    fl_font(FL_HELVETICA, fontSize);
    int textWidth = 0, textHeight = 0;
    fl_measure(label.c_str(), textWidth, textHeight);
    const int buttonsWidth = static_cast<int>(choices.size()) * (buttonWidth + margin) - margin;
    const int width = std::max(margin + iconSize + margin + textWidth + margin, margin + buttonsWidth + margin);
    const int top = margin + std::max(iconSize, textHeight) + margin;
    const int height = top + buttonHeight + margin;

    struct State {
        int answer = IDCANCEL;
        int escapeAnswer = IDCANCEL;
        std::vector<std::pair<Fl_Widget*, int>> answers; // by button
        Fl_Window* window = nullptr;
    } state;
    Fl_Double_Window window(width, height, caption.c_str());
    state.window = &window;

    const char* symbol = "i";
    switch (flags & 0xF0) {
    case MB_ICONERROR: symbol = "X"; break;
    case MB_ICONEXCLAMATION: symbol = "!"; break;
    case MB_ICONQUESTION: symbol = "?"; break;
    default: break;
    }
    auto* icon = new Fl_Box(FL_THIN_UP_BOX, margin, margin, iconSize, iconSize, symbol);
    icon->color(FL_WHITE);
    icon->labelfont(FL_TIMES_BOLD);
    icon->labelsize(28);
    icon->labelcolor(FL_BLUE);
    auto* message = new Fl_Box(FL_NO_BOX, margin + iconSize + margin, margin, textWidth, std::max(iconSize, textHeight),
                               label.c_str());
    message->labelfont(FL_HELVETICA);
    message->labelsize(fontSize);
    message->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);

    // A click ends the loop with the button's answer.
    auto pressed = [](Fl_Widget* button, void* data) {
        auto* s = static_cast<State*>(data);
        for (const auto& [widget, id] : s->answers) {
            if (widget == button) {
                s->answer = id;
            }
        }
        s->window->hide();
    };
    int x = width - margin - buttonsWidth;
    for (const BoxButton& choice : choices) {
        Fl_Button* button = choice.returnKey ? new Fl_Return_Button(x, top, buttonWidth, buttonHeight, choice.label)
                                             : new Fl_Button(x, top, buttonWidth, buttonHeight, choice.label);
        button->labelsize(fontSize);
        button->callback(pressed, &state);
        state.answers.emplace_back(button, choice.id);
        if (choice.escapeKey) {
            state.escapeAnswer = choice.id;
        }
        x += buttonWidth + margin;
    }
    window.end();
    // Escape reaches the window as a shortcut; the close box comes with no key.
    window.callback(
        [](Fl_Widget*, void* data) {
            auto* s = static_cast<State*>(data);
            const bool escape = Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape;
            s->answer = escape ? s->escapeAnswer : IDCANCEL;
            s->window->hide();
        },
        &state);
    window.set_modal();
    window.position((Fl::w() - width) / 2, (Fl::h() - height) / 2);
    window.show();
    while (window.shown()) {
        Fl::wait();
    }
    return state.answer;
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
    const std::vector<BoxButton> buttons = buttonsFor(flags);
    int answer = IDCANCEL;
    if (showSdlBox(text, caption, flags, buttons, answer)) {
        return answer;
    }
    return showFltkBox(text, caption, flags, buttons);
}
