#pragma once
// The game options dialog: the options model shown on a skinned background. Every click
// plays the click sound; Save (or Enter) stores the settings and closes, Cancel, Escape and
// the close button close without writing.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <gtkmm/radiobutton.h>

#include "gtk/BitmapButton.h"
#include "gtk/BitmapDialog.h"
#include "options/GameOptions.h"

class COptionDlg : public CBitmapDialog {
public:
    using SoundFunction = std::function<void(const std::string& path)>;

    // Loads the settings at once (before the window shows).
    COptionDlg(Gtk::Window* parent, SkinPictures& pictures, Registry& registry,
               std::string codePage, SoundFunction playSound,
               const std::array<std::uint8_t, 3>& clientVersion);

    const GameOptions& Model() const { return *model_; }
    // The account-name box, for the window tests.
    Gtk::Entry& IdBox() { return id_; }
    // Runs Save as the Save button does.
    void SaveSettings();

protected:
    void OnShowDialog() override;
    bool on_key_press_event(GdkEventKey* event) override;

private:
    void Click();
    void PullControls();
    void PushRadios();

    std::string codePage_;
    SoundFunction playSound_;
    std::array<std::uint8_t, 3> clientVersion_;
    std::unique_ptr<GameOptions> model_;

    Gtk::Entry id_;
    Gtk::RadioButton::Group resolutionGroup_;
    std::array<Gtk::RadioButton, 4> resolution_;
    Gtk::RadioButton noResolution_;
    Gtk::RadioButton::Group colourGroup_;
    std::array<Gtk::RadioButton, 2> colour_;
    Gtk::RadioButton noColour_;
    Gtk::CheckButton sound_;
    Gtk::CheckButton music_;
    Gtk::CheckButton windowMode_;
    CBitmapButton save_;
    CBitmapButton cancel_;
    CBitmapButton close_;
    bool syncing_ = false;
    bool fittingId_ = false;  // the ID box is being cut to its byte limit
};
