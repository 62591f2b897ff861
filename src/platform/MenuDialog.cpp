#include "platform/MenuDialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Round_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include "platform/WindowArt.h"

#include <X11/Xatom.h>

#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr int formWidth = 392;
constexpr int formHeight = 273;
constexpr int formFontSize = 11;
constexpr int buttonFontSize = 19;
constexpr int loadingFontSize = 16;

// A framed group box whose caption interrupts the top edge of the frame.
class GroupFrame : public Fl_Box {
public:
    GroupFrame(int x, int y, int w, int h, const char* caption)
        : Fl_Box(FL_NO_BOX, x, y, w, h, nullptr), caption(caption)
    {
        clear_visible_focus();
    }

    const char* text() const { return caption != nullptr ? caption : ""; }

protected:
    void draw() override
    {
        fl_font(FL_HELVETICA, formFontSize);
        const int textHeight = fl_height();
        const int top = y() + textHeight / 2;
        fl_draw_box(FL_ENGRAVED_FRAME, x(), top, w(), h() - (top - y()), color());
        if (caption != nullptr && *caption != '\0') {
            const int textWidth = static_cast<int>(fl_width(caption));
            fl_color(color());
            fl_rectf(x() + 6, y(), textWidth + 4, textHeight);
            fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
            fl_draw(caption, x() + 8, y() + fl_height() - fl_descent());
        }
    }

private:
    const char* caption;
};

// A push button that Return also presses while it has the focus.
class PushButton : public Fl_Button {
public:
    using Fl_Button::Fl_Button;

    int handle(int event) override
    {
        if (event == FL_KEYBOARD && Fl::focus() == this
            && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
            do_callback();
            return 1;
        }
        return Fl_Button::handle(event);
    }
};

// The focus arrives by keyboard navigation (Tab, arrows) rather than a click.
bool navigating()
{
    return Fl::event() == FL_KEYBOARD || Fl::event() == FL_SHORTCUT;
}

// A control that a click focuses but Tab passes by.
template <class Base>
class NoTabStop : public Base {
public:
    using Base::Base;

    int handle(int event) override
    {
        if (event == FL_FOCUS && navigating()) {
            return 0;
        }
        return Base::handle(event);
    }
};

// A radio button that Tab only stops at while it is the checked one. The
// arrow keys move the check (and the focus) to the next or previous radio
// button of its group, round the end, and run that button's callback.
class RadioButton : public Fl_Round_Button {
public:
    RadioButton(int x, int y, int w, int h, const char* label) : Fl_Round_Button(x, y, w, h, label)
    {
        type(FL_RADIO_BUTTON);
    }

    int handle(int event) override
    {
        if (event == FL_FOCUS && value() == 0 && navigating()) {
            return 0;
        }
        if (event == FL_KEYBOARD && Fl::focus() == this) {
            const int key = Fl::event_key();
            const int step = key == FL_Down || key == FL_Right ? 1 : key == FL_Up || key == FL_Left ? -1 : 0;
            RadioButton* next = step != 0 ? neighbour(step) : nullptr;
            if (next != nullptr) {
                next->setonly();
                next->take_focus();
                next->do_callback();
                return 1;
            }
        }
        return Fl_Round_Button::handle(event);
    }

private:
    // The radio button `step` places on in the group (its parent's radio
    // buttons in order); null when this one is alone.
    RadioButton* neighbour(int step) const
    {
        std::vector<RadioButton*> group;
        int self = 0;
        for (int i = 0; i < parent()->children(); ++i) {
            if (auto* radio = dynamic_cast<RadioButton*>(parent()->child(i))) {
                if (radio == this) {
                    self = static_cast<int>(group.size());
                }
                group.push_back(radio);
            }
        }
        const int count = static_cast<int>(group.size());
        return count > 1 ? group[static_cast<size_t>((self + step + count) % count)] : nullptr;
    }
};

int virtualKey(int flKey)
{
    switch (flKey) {
    case FL_Escape: return 0x1B;
    case FL_Enter: case FL_KP_Enter: return 0x0D;
    case FL_Tab: return 0x09;
    case FL_BackSpace: return 0x08;
    case FL_Left: return 0x25;
    case FL_Up: return 0x26;
    case FL_Right: return 0x27;
    case FL_Down: return 0x28;
    case ' ': return 0x20;
    default: break;
    }
    if (flKey >= 'a' && flKey <= 'z') {
        return flKey - 'a' + 'A';
    }
    if (flKey >= '0' && flKey <= '9') {
        return flKey;
    }
    return 0;
}

void styleText(Fl_Widget* widget)
{
    widget->labelfont(FL_HELVETICA);
    widget->labelsize(formFontSize);
}

} // namespace

struct TMenuDialog::Impl {
    struct Entry {
        const char* name;
        Fl_Widget* widget;
        bool tabStop;
        int tabIndex; // -1: not in the tab order
    };

    Handlers handlers;
    bool done = false;
    Fl_Double_Window* window = nullptr;
    Fl_Button* game = nullptr;
    Fl_Button* editor = nullptr;
    Fl_Check_Button* checkShowFPS = nullptr;
    Fl_Check_Button* checkFullscreen = nullptr;
    Fl_Input* widthEdit = nullptr;
    Fl_Input* heightEdit = nullptr;
    Fl_Input* bitsEdit = nullptr;
    RadioButton* newTrackRadio = nullptr;
    RadioButton* loadTrackRadio = nullptr;
    Fl_Button* loadButton = nullptr;
    Fl_Input* path = nullptr;
    Fl_Box* loading = nullptr;
    std::vector<Entry> entries;

    static Impl* active; // the form whose keys are previewed
    static Fl_Event_Dispatch previousDispatch;

    void build();
    Fl_Box* label(int x, int y, const char* text);
    Fl_Input* edit(Edit which) const
    {
        switch (which) {
        case Edit::width: return widthEdit;
        case Edit::height: return heightEdit;
        case Edit::bits: return bitsEdit;
        case Edit::path: break;
        }
        return path;
    }
    static int dispatch(int event, Fl_Window* window);
};

TMenuDialog::Impl* TMenuDialog::Impl::active = nullptr;
Fl_Event_Dispatch TMenuDialog::Impl::previousDispatch = nullptr;

Fl_Box* TMenuDialog::Impl::label(int x, int y, const char* text)
{
    fl_font(FL_HELVETICA, formFontSize);
    int w = 0;
    int h = 0;
    fl_measure(text, w, h, 0);
    auto* box = new Fl_Box(FL_NO_BOX, x, y, w, h, text);
    styleText(box);
    box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    box->clear_visible_focus();
    return box;
}

void TMenuDialog::Impl::build()
{
    window = new Fl_Double_Window(formWidth, formHeight, "Velto");
    window->user_data(this);

    // Frames first: they are drawn under the controls and never take events.
    auto* groupBox1 = new GroupFrame(16, 8, 353, 105, nullptr);
    auto* groupBox2 = new GroupFrame(16, 128, 353, 105, nullptr);
    auto* resolution = new GroupFrame(248, 16, 105, 81, "screen resolution");

    // The controls in tab order; children are visited by Tab in this order.
    game = new PushButton(24, 24, 81, 49, "Game");
    game->labelfont(FL_HELVETICA_BOLD);
    game->labelsize(buttonFontSize);
    editor = new PushButton(24, 144, 81, 49, "Editor");
    editor->labelfont(FL_HELVETICA_BOLD);
    editor->labelsize(buttonFontSize);

    checkShowFPS = new NoTabStop<Fl_Check_Button>(120, 24, 73, 25, "Show FPS");
    checkFullscreen = new NoTabStop<Fl_Check_Button>(120, 48, 73, 25, "Fullscreen");
    for (auto* check : {checkShowFPS, checkFullscreen}) {
        styleText(check);
    }

    widthEdit = new Fl_Input(256, 32, 33, 21);
    widthEdit->value("800");
    widthEdit->maximum_size(4);
    heightEdit = new Fl_Input(304, 32, 33, 21);
    heightEdit->value("600");
    heightEdit->maximum_size(4);
    bitsEdit = new Fl_Input(280, 64, 21, 21);
    bitsEdit->value("32");
    bitsEdit->maximum_size(2);

    newTrackRadio = new RadioButton(16 + 112, 128 + 16, 97, 25, "New Track");
    loadTrackRadio = new RadioButton(16 + 112, 128 + 40, 89, 25, "Load Track");
    styleText(newTrackRadio);
    styleText(loadTrackRadio);
    newTrackRadio->setonly();

    loadButton = new NoTabStop<PushButton>(204, 171, 20, 19, "..");
    styleText(loadButton);

    path = new NoTabStop<Fl_Input>(128, 200, 225, 21);
    path->when(FL_WHEN_CHANGED);

    for (auto* edit : {widthEdit, heightEdit, bitsEdit, path}) {
        edit->textfont(FL_HELVETICA);
        edit->textsize(formFontSize);
        edit->box(FL_DOWN_BOX);
    }

    auto* x = label(248 + 46, 16 + 18, "x");
    auto* label2 = label(248 + 60, 16 + 52, "bits");
    auto* label1 = label(16 + 84, 128 + 73, "path:");

    fl_font(FL_HELVETICA_BOLD_ITALIC, loadingFontSize);
    int lw = 0;
    int lh = 0;
    fl_measure("loading...", lw, lh, 0);
    loading = new Fl_Box(FL_NO_BOX, 24, 240, lw, lh, "loading...");
    loading->labelfont(FL_HELVETICA_BOLD_ITALIC);
    loading->labelsize(loadingFontSize);
    loading->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    loading->clear_visible_focus();
    loading->hide();

    window->end();
    window->size_range(formWidth, formHeight, formWidth, formHeight);
    window->position((Fl::w() - formWidth) / 2, (Fl::h() - formHeight) / 2);

    entries = {
        {"Game", game, true, 0},
        {"Editor", editor, true, 1},
        {"checkShowFPS", checkShowFPS, false, 2},
        {"checkFullscreen", checkFullscreen, false, 3},
        {"widthEdit", widthEdit, true, 4},
        {"heightEdit", heightEdit, true, 5},
        {"bitsEdit", bitsEdit, true, 6},
        {"NewTrackRadio", newTrackRadio, true, 7},
        {"LoadTrackRadio", loadTrackRadio, true, 7},
        {"loadButton", loadButton, false, 8},
        {"GroupBox1", groupBox1, false, 9},
        {"path", path, false, 10},
        {"resolution", resolution, false, 11},
        {"GroupBox2", groupBox2, false, 7},
        {"x", x, false, -1},
        {"Label2", label2, false, -1},
        {"Label1", label1, false, -1},
        {"loading", loading, false, -1},
    };

    game->callback([](Fl_Widget*, void* d) {
        auto* self = static_cast<Impl*>(d);
        if (self->handlers.GameClick) self->handlers.GameClick();
    }, this);
    editor->callback([](Fl_Widget*, void* d) {
        auto* self = static_cast<Impl*>(d);
        if (self->handlers.EditorClick) self->handlers.EditorClick();
    }, this);
    loadTrackRadio->callback([](Fl_Widget*, void* d) {
        auto* self = static_cast<Impl*>(d);
        if (self->handlers.LoadTrackRadioClick) self->handlers.LoadTrackRadioClick();
    }, this);
    loadButton->callback([](Fl_Widget*, void* d) {
        auto* self = static_cast<Impl*>(d);
        if (self->handlers.loadButtonClick) self->handlers.loadButtonClick();
    }, this);
    path->callback([](Fl_Widget*, void* d) {
        auto* self = static_cast<Impl*>(d);
        if (self->handlers.pathChange) self->handlers.pathChange();
    }, this);
    window->callback([](Fl_Widget*, void* d) {
        auto* self = static_cast<Impl*>(d);
        // Esc reaches the window as a shortcut after the key preview saw it.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
            return;
        }
        if (self->handlers.FormClose) self->handlers.FormClose();
    }, this);
}

int TMenuDialog::Impl::dispatch(int event, Fl_Window* window)
{
    Impl* self = active;
    if (self != nullptr && window == self->window && event == FL_KEYBOARD && self->handlers.FormKeyDown) {
        self->handlers.FormKeyDown(virtualKey(Fl::event_key()));
        if (self->done) {
            return 1;
        }
    }
    return Fl::handle_(event, window);
}

TMenuDialog::TMenuDialog() : impl(std::make_unique<Impl>())
{
    Fl::background(212, 208, 200);
    // The form's sans-serif faces: Arial's metrics, so the captions fit
    // their controls.
    Fl::set_font(FL_HELVETICA, " Liberation Sans");
    Fl::set_font(FL_HELVETICA_BOLD, "BLiberation Sans");
    Fl::set_font(FL_HELVETICA_ITALIC, "ILiberation Sans");
    Fl::set_font(FL_HELVETICA_BOLD_ITALIC, "PLiberation Sans");
    fl_open_display();
    impl->build();
    Impl::previousDispatch = Fl::event_dispatch();
    Fl::event_dispatch(&Impl::dispatch);
    Impl::active = impl.get();
}

TMenuDialog::~TMenuDialog()
{
    if (Impl::active == impl.get()) {
        Impl::active = nullptr;
        Fl::event_dispatch(Impl::previousDispatch);
    }
    impl->window->hide();
    delete impl->window;
    Fl::flush();
}

void TMenuDialog::setHandlers(Handlers handlers)
{
    impl->handlers = std::move(handlers);
}

std::string TMenuDialog::text(Edit edit) const
{
    const char* value = impl->edit(edit)->value();
    return value != nullptr ? value : "";
}

void TMenuDialog::setText(Edit edit, const std::string& text)
{
    Fl_Input* input = impl->edit(edit);
    input->value(text.c_str(), static_cast<int>(text.size()));
    input->position(0); // show the start of a text longer than the edit
}

bool TMenuDialog::checked(Check check) const
{
    switch (check) {
    case Check::showFPS: return impl->checkShowFPS->value() != 0;
    case Check::fullscreen: return impl->checkFullscreen->value() != 0;
    case Check::newTrack: return impl->newTrackRadio->value() != 0;
    case Check::loadTrack: return impl->loadTrackRadio->value() != 0;
    }
    return false;
}

void TMenuDialog::setChecked(Check check, bool value)
{
    switch (check) {
    case Check::showFPS: impl->checkShowFPS->value(value ? 1 : 0); break;
    case Check::fullscreen: impl->checkFullscreen->value(value ? 1 : 0); break;
    case Check::newTrack:
        if (value) impl->newTrackRadio->setonly(); else impl->newTrackRadio->value(0);
        break;
    case Check::loadTrack:
        if (value) impl->loadTrackRadio->setonly(); else impl->loadTrackRadio->value(0);
        break;
    }
}

void TMenuDialog::setLoadingVisible(bool visible)
{
    if (visible) {
        impl->loading->show();
    } else {
        impl->loading->hide();
    }
    impl->window->redraw();
}

bool TMenuDialog::loadingVisible() const
{
    return impl->loading->visible() != 0;
}

// Asks the window manager for a title bar with the system menu, minimise
// and close only: the form is neither resized nor maximised.
static void setFixedFrame(Fl_Window* window)
{
    struct {
        unsigned long flags, functions, decorations;
        long inputMode;
        unsigned long status;
    } hints {};
    enum : unsigned long { functionsFlag = 1, decorationsFlag = 2 };
    enum : unsigned long { moveFunction = 4, minimiseFunction = 8, closeFunction = 32 };
    enum : unsigned long { borderDecoration = 2, titleDecoration = 8, menuDecoration = 16, minimiseDecoration = 32 };
    hints.flags = functionsFlag | decorationsFlag;
    hints.functions = moveFunction | minimiseFunction | closeFunction;
    hints.decorations = borderDecoration | titleDecoration | menuDecoration | minimiseDecoration;
    const Atom property = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(fl_display, fl_xid(window), property, property, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&hints), 5);
}

// The program's icon (the render window's wheel) on the form's title bar
// and in the task list.
static void setIcon(Fl_Window* window)
{
    SDL_Surface* icon = createWindowIcon();
    if (icon == nullptr) {
        return;
    }
    std::vector<unsigned long> data;
    data.reserve(2 + static_cast<std::size_t>(icon->w) * static_cast<std::size_t>(icon->h));
    data.push_back(static_cast<unsigned long>(icon->w));
    data.push_back(static_cast<unsigned long>(icon->h));
    SDL_LockSurface(icon);
    for (int y = 0; y < icon->h; ++y) {
        const auto* row = static_cast<const Uint8*>(icon->pixels) + y * icon->pitch;
        for (int x = 0; x < icon->w; ++x) {
            Uint32 pixel = 0;
            std::memcpy(&pixel, row + x * 4, 4);
            Uint8 r = 0;
            Uint8 g = 0;
            Uint8 b = 0;
            Uint8 a = 0;
            SDL_GetRGBA(pixel, icon->format, &r, &g, &b, &a);
            data.push_back(static_cast<unsigned long>(a) << 24 | static_cast<unsigned long>(r) << 16
                           | static_cast<unsigned long>(g) << 8 | b);
        }
    }
    SDL_UnlockSurface(icon);
    SDL_FreeSurface(icon);
    const Atom property = XInternAtom(fl_display, "_NET_WM_ICON", False);
    XChangeProperty(fl_display, fl_xid(window), property, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(data.data()), static_cast<int>(data.size()));
}

void TMenuDialog::show(bool takeFocus)
{
    const bool created = !impl->window->shown();
    impl->window->show();
    if (created) {
        setFixedFrame(impl->window);
        setIcon(impl->window);
    }
    Fl::flush();
    if (!takeFocus) {
        return;
    }
    // Without a window manager nobody gives the focus back once the mode's
    // window is gone: take it as soon as the form is mapped.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        Fl::wait(0.01);
        if (!impl->window->shown()) {
            continue;
        }
        XWindowAttributes attributes {};
        if (XGetWindowAttributes(fl_display, fl_xid(impl->window), &attributes) != 0
            && attributes.map_state == IsViewable) {
            XSetInputFocus(fl_display, fl_xid(impl->window), RevertToParent, CurrentTime);
            XFlush(fl_display);
            break;
        }
    }
}

void TMenuDialog::hide()
{
    impl->window->hide();
    Fl::flush();
}

bool TMenuDialog::shown() const
{
    return impl->window->shown() != 0 && impl->window->visible() != 0;
}

void TMenuDialog::repaint()
{
    impl->window->redraw();
    Fl::flush();
}

void TMenuDialog::run()
{
    while (!impl->done) {
        Fl::wait(0.5);
    }
}

void TMenuDialog::processEvents(double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        Fl::wait(0.01);
    }
}

void TMenuDialog::terminate()
{
    impl->done = true;
    impl->window->hide();
}

bool TMenuDialog::terminated() const
{
    return impl->done;
}

unsigned long TMenuDialog::windowId() const
{
    return impl->window->shown() ? static_cast<unsigned long>(fl_xid(impl->window)) : 0;
}

std::vector<TMenuDialog::ControlInfo> TMenuDialog::controls() const
{
    std::vector<ControlInfo> result;
    for (const auto& entry : impl->entries) {
        const Fl_Widget* w = entry.widget;
        const Fl_Font font = w->labelfont();
        const char* caption = w->label();
        if (auto* frame = dynamic_cast<const GroupFrame*>(w); frame != nullptr) {
            caption = frame->text();
        }
        ControlInfo info {entry.name, caption != nullptr ? caption : "", w->x(), w->y(), w->w(), w->h(),
                          w->visible() != 0, entry.tabStop, w->labelsize(),
                          font == FL_HELVETICA_BOLD || font == FL_HELVETICA_BOLD_ITALIC,
                          font == FL_HELVETICA_ITALIC || font == FL_HELVETICA_BOLD_ITALIC};
        result.push_back(info);
    }
    return result;
}

std::vector<std::string> TMenuDialog::tabOrder() const
{
    // The window's children in the order Tab visits them, as far as they stop it.
    std::vector<std::string> result;
    for (int i = 0; i < impl->window->children(); ++i) {
        Fl_Widget* child = impl->window->child(i);
        if (!child->visible_focus() || !child->takesevents()) {
            continue;
        }
        if (child->type() == FL_RADIO_BUTTON && static_cast<Fl_Button*>(child)->value() == 0) {
            continue;
        }
        for (const auto& entry : impl->entries) {
            if (entry.widget == child && entry.tabStop) {
                result.push_back(entry.name);
            }
        }
    }
    return result;
}

std::string TMenuDialog::focusedControl() const
{
    for (const auto& entry : impl->entries) {
        if (entry.widget == Fl::focus()) {
            return entry.name;
        }
    }
    return {};
}
