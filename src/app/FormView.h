// The FLTK start-up form seen through the handlers' MenuView.
#pragma once

#include "app/MenuView.h"
#include "platform/MenuDialog.h"

class FormView : public MenuView {
public:
    explicit FormView(TMenuDialog& form) : form(form) {}

    std::string widthText() const override { return form.text(TMenuDialog::Edit::width); }
    std::string heightText() const override { return form.text(TMenuDialog::Edit::height); }
    std::string bitsText() const override { return form.text(TMenuDialog::Edit::bits); }
    void setWidthText(const std::string& text) override { form.setText(TMenuDialog::Edit::width, text); }
    void setHeightText(const std::string& text) override { form.setText(TMenuDialog::Edit::height, text); }
    void setBitsText(const std::string& text) override { form.setText(TMenuDialog::Edit::bits, text); }

    bool showFPSChecked() const override { return form.checked(TMenuDialog::Check::showFPS); }
    bool fullscreenChecked() const override { return form.checked(TMenuDialog::Check::fullscreen); }
    void setShowFPSChecked(bool checked) override { form.setChecked(TMenuDialog::Check::showFPS, checked); }
    void setFullscreenChecked(bool checked) override { form.setChecked(TMenuDialog::Check::fullscreen, checked); }

    bool loadTrackChecked() const override { return form.checked(TMenuDialog::Check::loadTrack); }
    void checkLoadTrack() override { form.setChecked(TMenuDialog::Check::loadTrack, true); }
    void checkNewTrack() override { form.setChecked(TMenuDialog::Check::newTrack, true); }

    std::string pathText() const override { return form.text(TMenuDialog::Edit::path); }
    void setPathText(const std::string& text) override { form.setText(TMenuDialog::Edit::path, text); }

    void setLoadingVisible(bool visible) override { form.setLoadingVisible(visible); }
    void repaint() override { form.repaint(); }
    void showDialog() override { form.show(true); }
    void terminate() override { form.terminate(); }

private:
    TMenuDialog& form;
};

class MenuHandlers;
// Routes the form's events to the handlers.
void connectForm(TMenuDialog& form, MenuHandlers& handlers);
