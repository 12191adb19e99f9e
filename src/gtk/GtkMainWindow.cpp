#include "gtk/GtkMainWindow.h"

#include <gdk/gdkkeysyms.h>
#include <gdkmm/general.h>
#include <glibmm/main.h>
#include <glibmm/spawn.h>

#include <algorithm>

#include "gtk/ClickSound.h"
#include "gtk/GtkMessageBox.h"
#include "gtk/OlderWindow.h"
#include "gtk/OptionDlg.h"
#include "gtk/SkinStyles.h"
#include "gtk/SkinText.h"
#include "platform/CodePage.h"
#include "ui/MainWindowLayout.h"

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

GtkMainWindow::~GtkMainWindow() {
    barRedrawTimer_.disconnect();
}

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
    barSurface_ = SurfaceFromPixbuf(barPicture_);
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        const int width = barPicture_ ? barPicture_->get_width() : 0;
        const int height = barPicture_ ? barPicture_->get_height() : 0;
        bars_[i].CreateBar(width, height, skin::kBarOrigins[i][0], skin::kBarOrigins[i][1],
                           [this](const WindowRect& r) { InvalidateBar(r); });
    }
    const WindowRect& news = skin::kServerViewNews;
    browser_.Create(Client(), news.Left, news.Top, news.Width(), news.Height());
}

// A bar that moves with every chunk of a transfer would have the window redrawn at the full
// frame rate, which cost the patch about a tenth of its speed; the bars are redrawn at most
// every kBarRedrawInterval instead, and a change held back is drawn when the interval ends.
void GtkMainWindow::InvalidateBar(const WindowRect& area) {
    if (pendingBarArea_.Right <= pendingBarArea_.Left) {
        pendingBarArea_ = area;
    } else {
        pendingBarArea_.Left = std::min(pendingBarArea_.Left, area.Left);
        pendingBarArea_.Top = std::min(pendingBarArea_.Top, area.Top);
        pendingBarArea_.Right = std::max(pendingBarArea_.Right, area.Right);
        pendingBarArea_.Bottom = std::max(pendingBarArea_.Bottom, area.Bottom);
    }
    if (barRedrawTimer_.connected()) return;
    const auto wait = lastBarRedraw_ + kBarRedrawInterval - std::chrono::steady_clock::now();
    if (wait <= std::chrono::steady_clock::duration::zero()) {
        FlushBarArea();
        return;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1;
    barRedrawTimer_ = Glib::signal_timeout().connect(
        [this] {
            FlushBarArea();
            return false;
        },
        static_cast<unsigned>(ms));
}

void GtkMainWindow::FlushBarArea() {
    barRedrawTimer_.disconnect();
    lastBarRedraw_ = std::chrono::steady_clock::now();
    const WindowRect r = pendingBarArea_;
    pendingBarArea_ = WindowRect{};
    if (r.Right > r.Left && r.Bottom > r.Top)
        queue_draw_area(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
}

CBitmapButton* GtkMainWindow::Button(int controlId) {
    auto it = buttons_.find(controlId);
    return it == buttons_.end() ? nullptr : it->second.get();
}

std::string GtkMainWindow::Decode(const std::string& bytes) const {
    return DecodeToUtf8(bytes, config_.CodePage);
}

void GtkMainWindow::ShowControl(int controlId, bool visible) {
    if (controlId == ControlId::Browser) {
        browser_.Show(visible);
        return;
    }
    if (auto* button = Button(controlId)) button->set_visible(visible);
}

void GtkMainWindow::EnableControl(int controlId, bool enabled) {
    if (controlId == ControlId::Browser) {
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
    if (barSurface_) {
        for (const auto& bar : bars_) {
            const WindowRect r = bar.Rect();
            const int filled = std::min(bar.FilledWidth(), barPicture_->get_width());
            if (filled <= 0) continue;
            cr->save();
            cr->rectangle(r.Left, r.Top, filled, r.Bottom - r.Top);
            cr->clip();
            cr->set_source(barSurface_, r.Left, r.Top);
            cr->paint();
            cr->restore();
        }
    }
    // A frame that only repaints a moving bar leaves the lines of text outside it alone:
    // laying them out again is most of such a frame's cost.
    double clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;
    cr->get_clip_extents(clipLeft, clipTop, clipRight, clipBottom);
    auto rowVisible = [&](int top) {
        return top < clipBottom && top + 2 * skin::kTextFontHeight > clipTop;
    };
    const auto font = SkinFont(skin::kTextFontFace, skin::kTextFontHeight);
    auto draw = [&](const std::string& text, std::uint32_t colour, int centreX, int top) {
        if (text.empty() || !rowVisible(top)) return;
        DrawCentredText(cr, Decode(text), font, colour, centreX, top, skin::kTextFontWidth);
    };
    draw(paint_.StatusText, 0x000000, skin::kStatusCentreX, skin::kStatusTop);
    draw(paint_.TitleText, 0x000000, skin::kTitleCentreX, skin::kTitleTop);
    draw(paint_.ProgressCaption, skin::kCaptionColour, skin::kCaptionCentreX, skin::kCaptionTop);
    for (std::size_t i = 0; i < paint_.PercentText.size(); ++i) {
        draw(paint_.PercentText[i], skin::kPercentColour, skin::kPercentOrigins[i][0],
             skin::kPercentOrigins[i][1]);
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
    // Transfers and restoring call this after every chunk, thousands of times a second. A
    // look at the main context costs a poll() and a pass over every source, which made up
    // much of what the window added to a patch; a look every kPumpInterval of work still
    // answers a click long before anyone could notice.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < kPumpInterval) return false;
    lastPump_ = now;
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
