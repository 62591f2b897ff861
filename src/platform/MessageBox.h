// Modal message boxes: one function for every message of the program.
#pragma once

#include <functional>
#include <string>

enum : unsigned {
    MB_OK = 0x0000,
    MB_YESNOCANCEL = 0x0003,
    MB_ICONERROR = 0x0010,
    MB_ICONQUESTION = 0x0020,
    MB_ICONEXCLAMATION = 0x0030,
    MB_ICONWARNING = 0x0030,
    MB_ICONINFORMATION = 0x0040,
    MB_TASKMODAL = 0x2000,
};

enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Shows `text` with `caption`, an icon and buttons from the MB_* flags, and
// returns IDOK, IDYES, IDNO or IDCANCEL (closing the box is IDCANCEL).
// SDL draws the box; where it cannot (its X11 box needs the X core fonts),
// FLTK draws the same box with the same answers. Main thread only.
int messageBox(const std::string& text, const std::string& caption, unsigned flags);

// Tests answer boxes themselves: while a handler is set, messageBox calls it
// instead of showing anything. Pass nullptr to restore the real boxes.
using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
void setMessageBoxHandler(MessageBoxHandler handler);
