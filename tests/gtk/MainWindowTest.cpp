// The main window under Xvfb: layout by pixel, clicks and keys through the X server, the
// options dialog writing the registry store, and an older launcher window being closed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <gtkmm/window.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "XvfbDisplay.h"
#include "gtk/GtkEventLoop.h"
#include "gtk/GtkMainWindow.h"
#include "gtk/OptionDlg.h"
#include "platform/FileRegistry.h"
#include "ui/DIBitmap.h"
#include "ui/MainWindowLayout.h"

namespace {

const std::filesystem::path kSkin = std::filesystem::path(TORVANE_BINARY_DIR) / "assets" / "skin";

unsigned PicturePixel(int id, int x, int y) {
    CDIBitmap dib;
    if (!dib.LoadFromResource(kSkin, id)) return 0xFFFFFFFFu;
    return dib.PixelRgb(x, y);
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestDisplayReady()) GTEST_SKIP() << "no Xvfb or GTK display";
        if (!std::filesystem::exists(kSkin / "140.bmp")) GTEST_SKIP() << "skin not generated";
        registry_ = std::make_unique<FileRegistry>(dir_ / "registry");
        MainWindowConfig config;
        config.SkinDirectory = kSkin;
        config.GameDirectory = dir_.Path();
        config.RegistryStore = registry_.get();
        config.CodePage = "CP949";
        MainWindowHandlers handlers;
        handlers.OnCommand = [this](int id) { commands_.push_back(id); };
        handlers.OnClose = [this] { ++closeRequests_; };
        handlers.PreTranslateKeyDown = [this](int key) {
            keys_.push_back(key);
            return key == 27;
        };
        window_ = std::make_unique<GtkMainWindow>(config, loop_, handlers);
        window_->show();
        ASSERT_TRUE(PumpUntil([this] { return window_->get_mapped() && Origin().first >= 0; }));
    }

    std::pair<int, int> Origin() {
        int x = -1, y = -1;
        if (auto w = window_->get_window()) w->get_origin(x, y);
        return {x, y};
    }

    // A screenshot of the window's rectangle, taken once `ready` holds on it (or at timeout).
    Glib::RefPtr<Gdk::Pixbuf> Shot(
        const std::function<bool(const Glib::RefPtr<Gdk::Pixbuf>&)>& ready, int timeoutMs = 60000) {
        Glib::RefPtr<Gdk::Pixbuf> shot;
        PumpUntil(
            [&] {
                const auto [x, y] = Origin();
                shot = GrabScreen(x, y, 580, 380);
                return ready(shot);
            },
            timeoutMs);
        return shot;
    }

    void ServerView() {
        window_->SetBackgroundBitmap(skin::kServerViewBackground);
        for (int id : {2020, 2021, 2022, 2023, 2028}) window_->ShowControl(id, true);
        window_->MoveBrowser(228, 167, 336, 163);
        for (int i = 0; i < 10; ++i) {
            const int id = ControlId::FirstServer + i;
            window_->SetButtonCaption(id, "Server " + std::to_string(i + 1), 6, 12, 0);
            window_->EnableControl(id, i != 3);  // entry 3 has port 0
            window_->ShowControl(id, true);
        }
        MainWindowPaintState state;
        window_->Repaint({0, 0, 580, 380}, state);
    }

    testsupport::TempDir dir_;
    GtkEventLoop loop_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<GtkMainWindow> window_;
    std::vector<int> commands_;
    std::vector<int> keys_;
    int closeRequests_ = 0;
};

// A news page framed by a 3-pixel magenta border, so the view's edges can be found by pixel.
std::string NewsPage() {
    const std::string html =
        "<html><body style='margin:0'><div style='box-sizing:border-box;height:100vh;"
        "border:3px solid #ff00ff;padding:10px;background:#f4f6fa;color:#223;"
        "font:13px sans-serif'><b>Torvane news</b><p>Maintenance is over: all worlds are "
        "open again.</p><p>The spring event starts on Friday.</p></div></body></html>";
    std::string url = "data:text/html,";
    for (unsigned char c : html) {
        if (std::isalnum(c) || std::strchr("-_.~:;'<>=/()", c)) {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

TEST_F(MainWindowTest, ServerViewLayout) {
    ServerView();
    window_->NavigateBrowser(NewsPage());
    const auto shot = Shot([](const auto& s) { return PixelAt(s, 228 + 1, 167 + 1) == 0xFF00FF; });
    ASSERT_TRUE(shot);
    EXPECT_EQ(window_->get_width(), 580);
    EXPECT_EQ(window_->get_height(), 380);
    // News view exactly at 228,167, 336 x 163.
    EXPECT_EQ(PixelAt(shot, 228, 167), 0xFF00FFu);
    EXPECT_EQ(PixelAt(shot, 228 + 335, 167 + 162), 0xFF00FFu);
    EXPECT_NE(PixelAt(shot, 227, 167), 0xFF00FFu);
    EXPECT_NE(PixelAt(shot, 228, 166), 0xFF00FFu);
    EXPECT_NE(PixelAt(shot, 228 + 336, 200), 0xFF00FFu);
    // Server buttons on their grid: the face's marker dot at (10..13, 11..14) of each.
    for (int i = 0; i < 10; ++i) {
        const auto spec = skin::ServerButton(i);
        const int face = i == 3 ? 148 : 149;  // disabled entry shows the disabled picture
        EXPECT_EQ(PixelAt(shot, spec.X + 11, spec.Y + 12), PicturePixel(face, 11, 12)) << i;
        EXPECT_EQ(PixelAt(shot, spec.X + 2, spec.Y + 24), PicturePixel(face, 2, 24)) << i;
    }
    // The exit button at 493,337 and the small close at 561,3.
    EXPECT_EQ(PixelAt(shot, 493 + 3, 337 + 20), PicturePixel(160, 3, 20));
    EXPECT_EQ(PixelAt(shot, 561 + 8, 3 + 1), PicturePixel(144, 8, 1));
    // The background elsewhere; the colour key never shows.
    EXPECT_EQ(PixelAt(shot, 100, 300), PicturePixel(140, 100, 300));
    EXPECT_NE(PixelAt(shot, 0, 0), 0x00FF00u);
    EXPECT_NE(PixelAt(shot, 579, 379), 0x00FF00u);
    shot->save((ScreenshotDirectory() / "server-view.png").string(), "png");
}

TEST_F(MainWindowTest, ProgressViewBarsAndTexts) {
    window_->SetBackgroundBitmap(skin::kProgressViewBackground);
    window_->MoveBrowser(225, 176, 338, 184);
    window_->NavigateBrowser(NewsPage());
    MainWindowPaintState state;
    state.ProgressVisible = true;
    state.StatusText = "Downloading the update...";
    state.TitleText = "Server 1";
    state.ProgressCaption = "Patch #1/3";
    state.PercentText = {"50%", "33%"};
    state.BarRange = {100, 3};
    state.BarPosition = {50, 1};
    window_->Repaint({0, 0, 580, 380}, state);
    const auto shot = Shot([](const auto& s) { return PixelAt(s, 225 + 1, 176 + 1) == 0xFF00FF; });
    ASSERT_TRUE(shot);
    // Browser at 225,176, 338 x 184.
    EXPECT_EQ(PixelAt(shot, 225, 176), 0xFF00FFu);
    EXPECT_EQ(PixelAt(shot, 225 + 337, 176 + 183), 0xFF00FFu);
    EXPECT_NE(PixelAt(shot, 225, 175), 0xFF00FFu);
    // Bar 1: 50 of 100 fills 169 of 339 pixels; bar 2: 1 of 3 fills 113.
    const int row = 4;  // a row clear of the percentage text
    EXPECT_EQ(PixelAt(shot, 225 + 100, 74 + row), PicturePixel(162, 100, row));
    EXPECT_EQ(PixelAt(shot, 225 + 168, 74 + row), PicturePixel(162, 168, row));
    EXPECT_EQ(PixelAt(shot, 225 + 169, 74 + row), PicturePixel(163, 225 + 169, 74 + row));
    EXPECT_EQ(PixelAt(shot, 225 + 112, 102 + row), PicturePixel(162, 112, row));
    EXPECT_EQ(PixelAt(shot, 225 + 113, 102 + row), PicturePixel(163, 225 + 113, 102 + row));
    // The status text is centred on x 394: its dark pixels balance around it.
    int left = 1000, right = -1;
    for (int y = 47; y < 68; ++y) {
        for (int x = 226; x < 563; ++x) {
            const unsigned c = PixelAt(shot, x, y);
            if (((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) < 200) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    ASSERT_LT(left, right) << "no status text drawn";
    EXPECT_NEAR((left + right) / 2.0, 394.0, 4.0);
    // The patch step caption: light text centred left of the title plate.
    int captionLeft = 1000, captionRight = -1;
    for (int y = 19; y < 40; ++y) {
        for (int x = 226; x < 380; ++x) {
            const unsigned c = PixelAt(shot, x, y);
            if (((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) > 500) {
                captionLeft = std::min(captionLeft, x);
                captionRight = std::max(captionRight, x);
            }
        }
    }
    ASSERT_LT(captionLeft, captionRight) << "no caption drawn";
    EXPECT_NEAR((captionLeft + captionRight) / 2.0, skin::kCaptionCentreX, 4.0);
    shot->save((ScreenshotDirectory() / "progress-view.png").string(), "png");

    // Lowering a bar repaints its background.
    state.BarPosition = {10, 1};
    window_->Repaint({226, 71, 563, 124}, state);
    const auto lowered = Shot([](const auto& s) {
        return PixelAt(s, 225 + 100, 74 + 4) == PicturePixel(163, 225 + 100, 74 + 4);
    });
    EXPECT_EQ(PixelAt(lowered, 225 + 100, 74 + 4), PicturePixel(163, 225 + 100, 74 + 4));
}

TEST_F(MainWindowTest, ClicksReachTheControllerAndEscapeIsSwallowed) {
    ServerView();
    Shot([](const auto& s) { return PixelAt(s, 227 + 11, 17 + 12) == PicturePixel(149, 11, 12); });
    const auto [x, y] = Origin();
    const auto spec = skin::ServerButton(2);
    ASSERT_TRUE(XDoTool({"mousemove", "--sync", std::to_string(x + spec.X + 30),
                         std::to_string(y + spec.Y + 10), "click", "1"}));
    EXPECT_TRUE(PumpUntil([this] { return !commands_.empty(); }));
    ASSERT_EQ(commands_.size(), 1u);
    EXPECT_EQ(commands_[0], 6503);

    // The disabled entry does not click.
    const auto off = skin::ServerButton(3);
    ASSERT_TRUE(XDoTool({"mousemove", "--sync", std::to_string(x + off.X + 30),
                         std::to_string(y + off.Y + 10), "click", "1"}));
    // Then Escape: the controller sees it, swallows it, and nothing closes.
    // Without a window manager the keyboard follows the pointer, which is over the window.
    ASSERT_TRUE(XDoTool({"key", "Escape"}));
    EXPECT_TRUE(PumpUntil([this] { return !keys_.empty(); }));
    EXPECT_EQ(commands_.size(), 1u);
    ASSERT_FALSE(keys_.empty());
    EXPECT_EQ(keys_[0], 27);
    EXPECT_EQ(closeRequests_, 0);
    EXPECT_TRUE(window_->get_visible());
}

TEST_F(MainWindowTest, OptionsDialogSavesWhatThePlayerChose) {
    // The dialog runs modally; a timer drives it through the X server step by step.
    int step = 0;
    bool clicked = false;
    auto driver = Glib::signal_timeout().connect(
        [&] {
            COptionDlg* dialog = nullptr;
            for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
                if (auto* d = dynamic_cast<COptionDlg*>(w); d && d->get_mapped()) dialog = d;
            }
            if (!dialog) return true;
            int x = 0, y = 0;
            dialog->get_window()->get_origin(x, y);
            auto click = [&](std::array<int, 2> at) {
                XDoTool({"mousemove", "--sync", std::to_string(x + at[0] + 6),
                         std::to_string(y + at[1] + 6), "click", "1"});
            };
            if (step == 0 && dialog->Model().SelectedResolution() == 2) {
                click(skin::options::kResolutionPositions[2]);
                step = 1;
            } else if (step == 1 && dialog->Model().SelectedResolution() == 3) {
                click(skin::options::kSoundBoxAt);
                clicked = true;
                step = 2;
            } else if (step == 2) {
                step = 3;  // one more tick for the box to repaint unchecked
            } else if (step == 3) {
                auto shot = GrabScreen(x, y, dialog->get_width(), dialog->get_height());
                shot->save((ScreenshotDirectory() / "options-dialog.png").string(), "png");
                XDoTool({"key", "Return"});
                step = 4;
            }
            return true;
        },
        200);
    window_->RunOptionsDialog({1, 0, 2});
    driver.disconnect();
    EXPECT_TRUE(clicked);
    EXPECT_EQ(step, 4);
    std::uint32_t value = 0;
    const char* key = "SOFTWARE\\Varnok\\KA\\Config";
    ASSERT_EQ(registry_->QueryDword(RegistryRoot::CurrentUser, key, "Resolution", &value),
              Registry::Status::Ok);
    EXPECT_EQ(value, 3u);
    ASSERT_EQ(registry_->QueryDword(RegistryRoot::CurrentUser, key, "SoundOnOff", &value),
              Registry::Status::Ok);
    EXPECT_EQ(value, 0u);
    ASSERT_EQ(registry_->QueryDword(RegistryRoot::CurrentUser, key, "MusicOnOff", &value),
              Registry::Status::Ok);
    EXPECT_EQ(value, 1u);
}

// The ID box counts the code page's bytes, as Save does: five Korean syllables fill it, and
// what it shows is exactly what is saved.
TEST_F(MainWindowTest, IdBoxHoldsWhatSaveKeeps) {
    std::string shown;
    bool done = false;
    auto driver = Glib::signal_timeout().connect(
        [&] {
            for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
                auto* dialog = dynamic_cast<COptionDlg*>(w);
                if (!dialog || !dialog->get_mapped() || done) continue;
                dialog->IdBox().set_text("\uAC00\uB098\uB2E4\uB77C\uB9C8\uBC14");  // six syllables
                int at = 5;
                dialog->IdBox().insert_text("x", 1, at);  // no room left for one more byte
                shown = dialog->IdBox().get_text().raw();
                dialog->SaveSettings();
                done = true;
            }
            return true;
        },
        200);
    window_->RunOptionsDialog({1, 0, 2});
    driver.disconnect();
    ASSERT_TRUE(done);
    EXPECT_EQ(shown, "\uAC00\uB098\uB2E4\uB77C\uB9C8");
    std::string saved;
    ASSERT_EQ(registry_->QueryString(RegistryRoot::CurrentUser, "SOFTWARE\\Varnok\\KA\\Config",
                                     "ID", &saved),
              Registry::Status::Ok);
    EXPECT_EQ(saved, "\xB0\xA1\xB3\xAA\xB4\xD9\xB6\xF3\xB8\xB6");  // the same five in CP949
}

TEST_F(MainWindowTest, OptionsDialogEscapeWritesNothing) {
    const char* key = "SOFTWARE\\Varnok\\KA\\Config";
    ASSERT_EQ(registry_->SetDword(RegistryRoot::CurrentUser, key, "Resolution", 7),
              Registry::Status::Ok);
    bool escaped = false;
    auto driver = Glib::signal_timeout().connect(
        [&] {
            for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
                auto* dialog = dynamic_cast<COptionDlg*>(w);
                if (!dialog || !dialog->get_mapped() || escaped) continue;
                // No resolution is selected for a stored 7.
                EXPECT_EQ(dialog->Model().SelectedResolution(), 0);
                int x = 0, y = 0;
                dialog->get_window()->get_origin(x, y);
                XDoTool({"mousemove", "--sync", std::to_string(x + 200), std::to_string(y + 60)});
                XDoTool({"key", "Escape"});
                escaped = true;
            }
            return true;
        },
        200);
    window_->RunOptionsDialog({1, 0, 2});
    driver.disconnect();
    EXPECT_TRUE(escaped);
    std::uint32_t value = 0;
    ASSERT_EQ(registry_->QueryDword(RegistryRoot::CurrentUser, key, "Resolution", &value),
              Registry::Status::Ok);
    EXPECT_EQ(value, 7u);
}

TEST(OlderLauncherWindow, IsAskedToCloseWhenTheLauncherStarts) {
    if (!TestDisplayReady()) GTEST_SKIP() << "no Xvfb or GTK display";
    Gtk::Window older;
    older.set_title("Torvane");
    bool asked = false;
    older.signal_delete_event().connect([&](GdkEventAny*) {
        asked = true;
        return true;
    });
    Gtk::Window other;
    other.set_title("Something else");
    bool otherAsked = false;
    other.signal_delete_event().connect([&](GdkEventAny*) {
        otherAsked = true;
        return true;
    });
    older.show();
    other.show();
    ASSERT_TRUE(PumpUntil([&] { return older.get_mapped() && other.get_mapped(); }));
    testsupport::TempDir dir;
    GtkEventLoop loop;
    MainWindowConfig config;
    config.SkinDirectory = kSkin;
    GtkMainWindow window(config, loop, {});
    EXPECT_TRUE(PumpUntil([&] { return asked; }));
    EXPECT_FALSE(otherAsked);
}

}  // namespace
