// The start-up form: a fixed-size FLTK window with the mode buttons, the
// screen settings, the track choice and the "loading..." label. The form
// only shows controls and reports clicks; what they do lives with its owner.
// Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TMenuDialog {
public:
    // Called from the form's events. FormKeyDown sees every key pressed
    // while the form has the focus, before the control that has it (key
    // preview), with the key's virtual-key code. FormClose is the close box.
    struct Handlers {
        std::function<void()> GameClick;
        std::function<void()> EditorClick;
        std::function<void()> LoadTrackRadioClick;
        std::function<void()> loadButtonClick;
        std::function<void()> pathChange;
        std::function<void(int key)> FormKeyDown;
        std::function<void()> FormClose;
    };

    enum class Edit { width, height, bits, path };
    enum class Check { showFPS, fullscreen, newTrack, loadTrack };

    // A control as laid out, for checks of the form.
    struct ControlInfo {
        std::string name;
        std::string caption;
        int x, y, w, h;       // relative to the form's client area
        bool visible;
        bool tabStop;
        int fontSize;
        bool bold;
        bool italic;
    };

    // Builds the form hidden; the form's client area is 392 x 273 pixels,
    // centred on the screen.
    TMenuDialog();
    ~TMenuDialog();
    TMenuDialog(const TMenuDialog&) = delete;
    TMenuDialog& operator=(const TMenuDialog&) = delete;

    void setHandlers(Handlers handlers);

    std::string text(Edit edit) const;
    // Sets an edit's text without calling pathChange.
    void setText(Edit edit, const std::string& text);
    bool checked(Check check) const;
    // Checking a radio button unchecks the other one.
    void setChecked(Check check, bool value);
    void setLoadingVisible(bool visible);
    bool loadingVisible() const;

    // Shows the form; `takeFocus` waits until it is mapped and gives it the
    // X input focus (needed after another window closed without a window
    // manager to pass the focus back).
    void show(bool takeFocus = false);
    void hide();
    bool shown() const;
    // Draws pending changes now.
    void repaint();

    // Runs the event loop until terminate() (Esc, the close box).
    void run();
    // Handles the events that come within `seconds`, then returns.
    void processEvents(double seconds);
    void terminate();
    bool terminated() const;

    // The X window id of the form while it is shown, else 0.
    unsigned long windowId() const;
    // Every control in tab order first (tab stops), then the rest.
    std::vector<ControlInfo> controls() const;
    // Names of the controls that Tab visits, in order.
    std::vector<std::string> tabOrder() const;
    // Name of the control with the keyboard focus; empty when none has it.
    std::string focusedControl() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
