#include "ui/gtk/GtkMainWindow.h"

#include <gdk/gdkkeysyms.h>
#include <gdkmm/general.h>
#include <glibmm/spawn.h>

#include <algorithm>

#include "platform/CodePage.h"
#include "ui/MainWindowLayout.h"
#include "ui/gtk/ClickSound.h"
#include "ui/gtk/GtkMessageBox.h"
#include "ui/gtk/OlderWindow.h"
#include "ui/gtk/OptionDlg.h"
#include "ui/gtk/SkinStyles.h"
#include "ui/gtk/SkinText.h"

namespace {

bool SameText(const MainWindowPaintState& a, const MainWindowPaintState& b) {
    return a.ProgressVisible == b.ProgressVisible && a.StatusText == b.StatusText &&
           a.TitleText == b.TitleText && a.PercentText == b.PercentText &&
           a.ProgressCaption == b.ProgressCaption;
}

}  // namespace

GtkMainWindow::GtkMainWindow(MainWindowConfig config, EventLoop& loop, MainWindowHandlers handlers)
    : MainWindowPictures(config.SkinDirectory),
      CDialogSK(OwnPictures),
      config_(std::move(config)),
      loop_(loop),
      handlers_(std::move(handlers)) {
    InstallSkinStyles();
    // An older launcher still open is asked to close before this one takes the title.
    CloseWindowsTitled(config_.Title, Glib::RefPtr<Gdk::Window>());

    if (auto icon = OwnPictures.Get(skin::kIconPicture)) set_icon(icon);
    CDialogSK::SetBackgroundBitmap(skin::kServerViewBackground);
    SetBackgroundLayout(LayoutStyle::ResizeWindow);
    SetColorKey(skin::kColourKey, true);
    set_title(config_.Title);
    set_resizable(false);
    set_position(Gtk::WIN_POS_CENTER);
    add_events(Gdk::KEY_PRESS_MASK);
    BuildControls();
}

GtkMainWindow::~GtkMainWindow() = default;

void GtkMainWindow::BuildControls() {
    for (const auto& spec : skin::kMainButtons) {
        auto button = std::make_unique<CBitmapButton>();
        button->LoadBitmaps(OwnPictures, spec.Normal, spec.Pressed, spec.Focus, spec.Disabled);
        button->SizeToContent();
        Client().put(*button, spec.X, spec.Y);
        button->set_visible(spec.Id == 2004);  // only the small close shows at first
        button->set_sensitive(spec.Id != 2001);
        button->set_name("control-" + std::to_string(spec.Id));
        const int id = spec.Id;
        button->signal_clicked().connect([this, id] {
            if (handlers_.OnCommand) handlers_.OnCommand(id);
        });
        buttons_[spec.Id] = std::move(button);
    }
    for (int i = 0; i < skin::kServerButtonCount; ++i) {
        const auto spec = skin::ServerButton(i);
        auto button = std::make_unique<CTextBitmapButton>();
        button->set_size_request(skin::kServerButtonWidth, skin::kServerButtonHeight);
        button->LoadBitmaps(OwnPictures, spec.Normal, spec.Pressed, spec.Focus, spec.Disabled);
        button->SizeToContent();
        Client().put(*button, spec.X, spec.Y);
        button->set_visible(false);
        button->set_name("control-" + std::to_string(spec.Id));
        const int id = spec.Id;
        button->signal_clicked().connect([this, id] {
            if (handlers_.OnCommand) handlers_.OnCommand(id);
        });
        buttons_[spec.Id] = std::move(button);
    }
    barPicture_ = OwnPictures.Get(skin::kProgressBarPicture);
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        const int width = barPicture_ ? barPicture_->get_width() : 0;
        const int height = barPicture_ ? barPicture_->get_height() : 0;
        bars_[i].CreateBar(width, height, skin::kBarOrigins[i][0], skin::kBarOrigins[i][1],
                           [this](const BarRect& r) {
                               queue_draw_area(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
                           });
    }
    browser_.Create(Client(), 228, 167, 336, 163);
}

CBitmapButton* GtkMainWindow::Button(int controlId) {
    auto it = buttons_.find(controlId);
    return it == buttons_.end() ? nullptr : it->second.get();
}

std::string GtkMainWindow::Decode(const std::string& bytes) const {
    return DecodeToUtf8(bytes, config_.CodePage);
}

void GtkMainWindow::ShowControl(int controlId, bool visible) {
    if (controlId == skin::kNewsViewId) {
        browser_.Show(visible);
        return;
    }
    if (auto* button = Button(controlId)) button->set_visible(visible);
}

void GtkMainWindow::EnableControl(int controlId, bool enabled) {
    if (controlId == skin::kNewsViewId) {
        if (browser_.Widget()) browser_.Widget()->set_sensitive(enabled);
        return;
    }
    if (auto* button = Button(controlId)) button->set_sensitive(enabled);
}

void GtkMainWindow::SetButtonCaption(int controlId, const std::string& caption, int fontWidth,
                                     int fontHeight, std::uint32_t colour) {
    auto* button = dynamic_cast<CTextBitmapButton*>(Button(controlId));
    if (!button) return;
    button->SetCaption(Decode(caption));
    button->SetFontSize(fontWidth, fontHeight);
    button->SetCaptionColor(colour);
}

void GtkMainWindow::MoveBrowser(int left, int top, int width, int height) {
    browser_.Move(left, top, width, height);
}

void GtkMainWindow::NavigateBrowser(const std::string& url) {
    browser_.Navigate(url);
}

void GtkMainWindow::SetBackgroundBitmap(int bitmapId) {
    CDialogSK::SetBackgroundBitmap(bitmapId);
}

void GtkMainWindow::Repaint(const WindowRect& area, const MainWindowPaintState& state) {
    const bool textChanged = !SameText(paint_, state);
    const bool viewChanged = paint_.ProgressVisible != state.ProgressVisible;
    paint_ = state;
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        bars_[i].SetRange(state.BarRange[i]);
        bars_[i].SetPosition(state.BarPosition[i]);
    }
    if (viewChanged) {
        queue_draw();
    } else if (textChanged && area.Right > area.Left && area.Bottom > area.Top) {
        queue_draw_area(area.Left, area.Top, area.Right - area.Left, area.Bottom - area.Top);
    }
}

void GtkMainWindow::PaintOverBackground(const Cairo::RefPtr<Cairo::Context>& cr) {
    if (!paint_.ProgressVisible) return;
    if (barPicture_) {
        for (const auto& bar : bars_) {
            const BarRect r = bar.Rect();
            const int filled = std::min(bar.FilledWidth(), barPicture_->get_width());
            if (filled <= 0) continue;
            cr->save();
            cr->rectangle(r.Left, r.Top, filled, r.Bottom - r.Top);
            cr->clip();
            Gdk::Cairo::set_source_pixbuf(cr, barPicture_, r.Left, r.Top);
            cr->paint();
            cr->restore();
        }
    }
    const auto font = SkinFont(skin::kTextFontFace, skin::kTextFontHeight);
    DrawCentredText(cr, Decode(paint_.StatusText), font, 0x000000, skin::kStatusCentreX,
                    skin::kStatusTop, skin::kTextFontWidth);
    DrawCentredText(cr, Decode(paint_.TitleText), font, 0x000000, skin::kTitleCentreX,
                    skin::kTitleTop, skin::kTextFontWidth);
    DrawCentredText(cr, Decode(paint_.ProgressCaption), font, skin::kCaptionColour,
                    skin::kCaptionCentreX, skin::kCaptionTop, skin::kTextFontWidth);
    for (std::size_t i = 0; i < paint_.PercentText.size(); ++i) {
        DrawCentredText(cr, Decode(paint_.PercentText[i]), font, skin::kPercentColour,
                        skin::kPercentOrigins[i][0], skin::kPercentOrigins[i][1],
                        skin::kTextFontWidth);
    }
}

void GtkMainWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                   MessageBoxIcon icon) {
    ShowGtkMessageBox(this, Decode(text), Decode(caption), icon);
}

void GtkMainWindow::RunOptionsDialog(const std::array<std::uint8_t, 3>& clientVersion) {
    if (!config_.RegistryStore) return;
    COptionDlg dialog(
        this, OwnPictures, *config_.RegistryStore, config_.CodePage,
        [this](const std::string& path) { PlaySound(path); }, clientVersion);
    dialog.DoModal();
}

std::filesystem::path GtkMainWindow::ResolveSoundPath(const std::string& path) const {
    std::string relative = path;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::filesystem::path name(relative);
    if (name.is_absolute()) return name;
    std::error_code error;
    const auto inGame = config_.GameDirectory.empty() ? name : config_.GameDirectory / name;
    if (std::filesystem::is_regular_file(inGame, error)) return inGame;
    if (!config_.DataDirectory.empty()) {
        for (const auto& candidate :
             {config_.DataDirectory / name, config_.DataDirectory / name.filename()}) {
            if (std::filesystem::is_regular_file(candidate, error)) return candidate;
        }
    }
    return inGame;
}

void GtkMainWindow::PlaySound(const std::string& path) {
    ClickSound::Play(ResolveSoundPath(path));
}

void GtkMainWindow::OpenLink(const std::string& url) {
    try {
        Glib::spawn_async("", std::vector<std::string>{"xdg-open", url}, Glib::SPAWN_SEARCH_PATH);
    } catch (const Glib::Error&) {
        // No opener on this desktop: the link simply does not open.
    }
}

void GtkMainWindow::CloseWindow() {
    closed_ = true;
    hide();
    loop_.Quit();
}

bool GtkMainWindow::PumpOneEvent() {
    return loop_.PumpOne();
}

bool GtkMainWindow::on_key_press_event(GdkEventKey* event) {
    int code = 0;
    if (event->keyval == GDK_KEY_Escape) code = 27;
    if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) code = 13;
    if (code != 0 && handlers_.PreTranslateKeyDown && handlers_.PreTranslateKeyDown(code)) {
        return true;
    }
    if (code == 27) return true;  // the window never closes on Escape
    return CDialogSK::on_key_press_event(event);
}

bool GtkMainWindow::on_delete_event(GdkEventAny*) {
    if (handlers_.OnClose) {
        handlers_.OnClose();
    } else {
        CloseWindow();
    }
    return true;
}
