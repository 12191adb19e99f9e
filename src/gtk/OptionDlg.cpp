#include "gtk/OptionDlg.h"

#include <gdk/gdkkeysyms.h>

#include "gtk/GtkMessageBox.h"
#include "gtk/SkinStyles.h"
#include "platform/CodePage.h"
#include "text/MessageNumbers.h"
#include "text/MessageTable.h"
#include "ui/MainWindowLayout.h"

namespace {

constexpr const char* kClickSound = "data\\sound\\beep.wav";

void Place(Gtk::Fixed& client, Gtk::Widget& widget, const std::array<int, 2>& at, int id) {
    widget.set_size_request(skin::options::kBoxSize, skin::options::kBoxSize);
    widget.get_style_context()->add_class("skin-box");
    widget.set_name("control-" + std::to_string(id));
    client.put(widget, at[0], at[1]);
}

}  // namespace

COptionDlg::COptionDlg(Gtk::Window* parent, SkinPictures& pictures, Registry& registry,
                       std::string codePage, SoundFunction playSound,
                       const std::array<std::uint8_t, 3>& clientVersion)
    : CBitmapDialog(parent, pictures),
      codePage_(std::move(codePage)),
      playSound_(std::move(playSound)),
      clientVersion_(clientVersion) {
    InstallSkinStyles();
    model_ = std::make_unique<GameOptions>(
        registry, [this](const std::string& text, const std::string& caption, MessageBoxIcon icon) {
            ShowGtkMessageBox(this, DecodeToUtf8(text, codePage_), DecodeToUtf8(caption, codePage_),
                              icon);
        });
    set_title(DecodeToUtf8(GetText(kMsgOptionsTitle), codePage_));

    // Background first: the dialog takes the picture's size.
    SetBackground(skin::kOptionsBackground, BackgroundTile);
    const CDIBitmap& picture = Background();
    if (!picture.Pixels().empty()) {
        Client().set_size_request(picture.Width(), picture.Height());
    } else {
        Client().set_size_request(385, 486);
    }

    using namespace skin::options;
    id_.set_max_length(static_cast<int>(kIdMaxLength));
    // The limit counts code-page bytes, as Save does: a double-byte character takes two.
    id_.signal_changed().connect([this] {
        if (fittingId_) return;
        const std::string text = id_.get_text().raw();
        const std::string fitted = GameOptions::FitIdBoxText(text, codePage_);
        if (fitted == text) return;
        fittingId_ = true;
        id_.set_text(fitted);
        id_.set_position(-1);
        fittingId_ = false;
        if (auto window = get_window()) window->beep();
    });
    id_.set_has_frame(false);
    id_.get_style_context()->add_class("skin-entry");
    id_.set_size_request(kEditRect[2], kEditRect[3]);
    id_.set_width_chars(1);
    id_.set_name("control-" + std::to_string(kIdEdit));
    Client().put(id_, kEditRect[0], kEditRect[1]);

    for (std::size_t i = 0; i < resolution_.size(); ++i) {
        resolution_[i].set_group(resolutionGroup_);
        Place(Client(), resolution_[i], kResolutionPositions[i], kResolutionIds[i]);
        const int choice = static_cast<int>(i) + 1;
        resolution_[i].signal_clicked().connect([this, choice] {
            if (syncing_) return;
            Click();
            model_->ChooseResolution(choice);
        });
    }
    noResolution_.set_group(resolutionGroup_);  // selected when no choice is valid; never shown
    for (std::size_t i = 0; i < colour_.size(); ++i) {
        colour_[i].set_group(colourGroup_);
        Place(Client(), colour_[i], kColourPositions[i], kColourIds[i]);
        const int depth = static_cast<int>(i);
        colour_[i].signal_clicked().connect([this, depth] {
            if (syncing_) return;
            Click();
            model_->ChooseColorDepth(depth);
        });
    }
    noColour_.set_group(colourGroup_);
    Place(Client(), sound_, kSoundBoxAt, kSoundBox);
    Place(Client(), music_, kMusicBoxAt, kMusicBox);
    Place(Client(), windowMode_, kWindowModeBoxAt, kWindowModeBox);
    for (Gtk::CheckButton* box : {&sound_, &music_, &windowMode_}) {
        box->signal_clicked().connect([this] {
            if (!syncing_) Click();
        });
    }

    struct Face {
        CBitmapButton& Button;
        skin::ButtonSpec Spec;
    };
    for (Face face :
         {Face{save_, kSaveButton}, Face{cancel_, kCancelButton}, Face{close_, kCloseButton}}) {
        face.Button.LoadBitmaps(Pictures(), face.Spec.Normal, face.Spec.Pressed, face.Spec.Focus,
                                face.Spec.Disabled);
        face.Button.SizeToContent();
        face.Button.set_name("control-" + std::to_string(face.Spec.Id));
        Client().put(face.Button, face.Spec.X, face.Spec.Y);
    }
    save_.signal_clicked().connect([this] { SaveSettings(); });
    cancel_.signal_clicked().connect([this] {
        Click();
        EndDialog(2);
    });
    close_.signal_clicked().connect([this] {
        Click();
        EndDialog(2);
    });
    Client().show_all();
}

void COptionDlg::Click() {
    if (playSound_) playSound_(kClickSound);
}

void COptionDlg::OnShowDialog() {
    syncing_ = true;
    id_.set_text(DecodeToUtf8(model_->IdText(), codePage_));
    sound_.set_active(model_->SoundChecked());
    music_.set_active(model_->MusicChecked());
    windowMode_.set_active(model_->WindowModeChecked());
    PushRadios();
    syncing_ = false;
}

void COptionDlg::PushRadios() {
    const int resolution = model_->SelectedResolution();
    if (resolution >= 1 && resolution <= 4) {
        resolution_[static_cast<std::size_t>(resolution - 1)].set_active(true);
    } else {
        noResolution_.set_active(true);
    }
    const int depth = model_->SelectedColorDepth();
    if (depth == 0 || depth == 1) {
        colour_[static_cast<std::size_t>(depth)].set_active(true);
    } else {
        noColour_.set_active(true);
    }
}

void COptionDlg::PullControls() {
    model_->SetIdText(EncodeFromUtf8(id_.get_text().raw(), codePage_), codePage_);
    model_->SetSoundChecked(sound_.get_active());
    model_->SetMusicChecked(music_.get_active());
    model_->SetWindowModeChecked(windowMode_.get_active());
}

void COptionDlg::SaveSettings() {
    PullControls();
    if (model_->SaveSettings() == GameOptions::SaveResult::Saved) Click();
    EndDialog(0);
}

bool COptionDlg::on_key_press_event(GdkEventKey* event) {
    if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
        SaveSettings();
        return true;
    }
    if (event->keyval == GDK_KEY_Escape) {
        Click();
        EndDialog(2);
        return true;
    }
    return CBitmapDialog::on_key_press_event(event);
}
