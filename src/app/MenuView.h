// What the start-up dialog's handlers need from the form: its controls'
// values and a few visual actions. The FLTK form implements it; tests use a
// plain stand-in.
#pragma once

#include <string>

class MenuView {
public:
    virtual ~MenuView() = default;

    virtual std::string widthText() const = 0;
    virtual std::string heightText() const = 0;
    virtual std::string bitsText() const = 0;
    virtual void setWidthText(const std::string& text) = 0;
    virtual void setHeightText(const std::string& text) = 0;
    virtual void setBitsText(const std::string& text) = 0;

    virtual bool showFPSChecked() const = 0;
    virtual bool fullscreenChecked() const = 0;
    virtual void setShowFPSChecked(bool checked) = 0;
    virtual void setFullscreenChecked(bool checked) = 0;

    // The two radio buttons: exactly one is checked.
    virtual bool loadTrackChecked() const = 0;
    virtual void checkLoadTrack() = 0;
    virtual void checkNewTrack() = 0;

    // Setting the path does not call pathChange; the handlers do that.
    virtual std::string pathText() const = 0;
    virtual void setPathText(const std::string& text) = 0;

    virtual void setLoadingVisible(bool visible) = 0;
    // Draws the form now, before a long call.
    virtual void repaint() = 0;
    // Shows the form again after a mode and gives it the keyboard focus.
    virtual void showDialog() = 0;
    // Ends the program's loop; the form is destroyed afterwards.
    virtual void terminate() = 0;
};
