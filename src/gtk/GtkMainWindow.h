#pragma once
// The launcher's main window: a skinned frameless window with the bitmap buttons, the ten
// server buttons, two picture progress bars, the painted status texts and the news view. It
// decides nothing: presses, close requests and keys go to the controller through
// MainWindowHandlers, and the controller drives it through WindowAdapter.

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/WindowAdapter.h"
#include "gtk/BitmapButton.h"
#include "gtk/DialogSK.h"
#include "gtk/TextBitmapButton.h"
#include "gtk/WebBrowser.h"
#include "platform/EventLoop.h"
#include "platform/Registry.h"
#include "ui/ProgressBar.h"

struct MainWindowHandlers {
    std::function<void(int controlId)> OnCommand;
    std::function<void()> OnClose;
    // True when the key (a virtual-key code: 27 Escape, 13 Enter) is swallowed.
    std::function<bool(int keyCode)> PreTranslateKeyDown;
};

struct MainWindowConfig {
    std::string Title = "Torvane";
    std::filesystem::path SkinDirectory;
    std::filesystem::path GameDirectory;  // relative sound paths start here
    std::filesystem::path DataDirectory;  // ... or, when missing there, here
    std::string CodePage = "CP949";
    Registry* RegistryStore = nullptr;  // the options dialog's settings
};

// Holds the pictures ahead of the window base that draws with them.
struct MainWindowPictures {
    explicit MainWindowPictures(std::filesystem::path directory)
        : OwnPictures(std::move(directory)) {}
    SkinPictures OwnPictures;
};

class GtkMainWindow : private MainWindowPictures, public CDialogSK, public WindowAdapter {
public:
    GtkMainWindow(MainWindowConfig config, EventLoop& loop, MainWindowHandlers handlers);
    ~GtkMainWindow() override;

    // WindowAdapter
    void ShowControl(int controlId, bool visible) override;
    void EnableControl(int controlId, bool enabled) override;
    void SetButtonCaption(int controlId, const std::string& caption, int fontWidth, int fontHeight,
                          std::uint32_t colour) override;
    void MoveBrowser(int left, int top, int width, int height) override;
    void NavigateBrowser(const std::string& url) override;
    void SetBackgroundBitmap(int bitmapId) override;
    void Repaint(const WindowRect& area, const MainWindowPaintState& state) override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxIcon icon) override;
    void RunOptionsDialog(const std::array<std::uint8_t, 3>& clientVersion) override;
    void PlaySound(const std::string& path) override;
    void OpenLink(const std::string& url) override;
    void CloseWindow() override;
    bool PumpOneEvent() override;

    // For the window tests and the front end.
    CBitmapButton* Button(int controlId);
    CWebBrowser& Browser() { return browser_; }
    const MainWindowPaintState& PaintState() const { return paint_; }
    std::filesystem::path ResolveSoundPath(const std::string& path) const;

protected:
    void PaintOverBackground(const Cairo::RefPtr<Cairo::Context>& cr) override;
    bool on_key_press_event(GdkEventKey* event) override;
    bool on_delete_event(GdkEventAny* event) override;

private:
    void BuildControls();
    void InvalidateBar(const WindowRect& area);
    void FlushBarArea();
    std::string Decode(const std::string& bytes) const;

    MainWindowConfig config_;
    EventLoop& loop_;
    MainWindowHandlers handlers_;
    std::map<int, std::unique_ptr<CBitmapButton>> buttons_;
    CWebBrowser browser_;
    std::array<CProgressBar, 2> bars_;
    Glib::RefPtr<Gdk::Pixbuf> barPicture_;
    Cairo::RefPtr<Cairo::Surface> barSurface_;
    // Long work pumps after every chunk; the main context is looked at no more often than this.
    static constexpr std::chrono::milliseconds kPumpInterval{4};
    std::chrono::steady_clock::time_point lastPump_{};
    // A moving bar is redrawn at most this often; the last change is always drawn.
    static constexpr std::chrono::milliseconds kBarRedrawInterval{40};
    std::chrono::steady_clock::time_point lastBarRedraw_{};
    WindowRect pendingBarArea_{};
    sigc::connection barRedrawTimer_;
    MainWindowPaintState paint_;
    bool closed_ = false;
};
