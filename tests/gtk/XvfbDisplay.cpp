#include "XvfbDisplay.h"

#include <gdkmm/window.h>
#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/main.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

// A display whose lock names a process that is gone was left by a killed server: its lock
// and socket may be taken over.
bool ClearStaleDisplay(const std::string& lock, const std::string& socket) {
    std::error_code error;
    if (!std::filesystem::exists(lock, error)) return !std::filesystem::exists(socket, error);
    const std::string text = testsupport::ReadFile(lock);
    const long pid = std::strtol(text.c_str(), nullptr, 10);
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return false;
    std::filesystem::remove(lock, error);
    std::filesystem::remove(socket, error);
    return !std::filesystem::exists(lock, error) && !std::filesystem::exists(socket, error);
}

}  // namespace

XvfbDisplay::~XvfbDisplay() {
    if (server_ && server_->Running()) {
        server_->Signal(SIGTERM);
        server_->Wait(10000);
    }
}

XvfbDisplay::XvfbDisplay() {
    for (int number = 57; number < 157; ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (!ClearStaleDisplay(lock, socket)) continue;
        name_ = ":" + std::to_string(number);
        testsupport::ChildProcess::Options options;
        server_ = std::make_unique<testsupport::ChildProcess>(
            std::vector<std::string>{"Xvfb", name_, "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp", "-ac"},
            options);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline && server_->Running()) {
            // Another test process may have started a server on the same number a moment
            // earlier: the display is ours only when its lock names our server.
            if (std::filesystem::exists(socket) && std::filesystem::exists(lock) &&
                std::strtol(testsupport::ReadFile(lock).c_str(), nullptr, 10) == server_->Pid()) {
                started_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (started_) break;
        server_.reset();  // lost a race for this number: try the next
    }
    if (started_) ::setenv("DISPLAY", name_.c_str(), 1);
}

Glib::RefPtr<Gdk::Pixbuf> GrabScreen(int x, int y, int width, int height) {
    auto root = Gdk::Window::get_default_root_window();
    return Gdk::Pixbuf::create(root, x, y, width, height);
}

unsigned PixelAt(const Glib::RefPtr<Gdk::Pixbuf>& picture, int x, int y) {
    if (!picture || x < 0 || y < 0 || x >= picture->get_width() || y >= picture->get_height())
        return 0xFFFFFFFFu;
    const std::uint8_t* p = picture->get_pixels() +
                            static_cast<std::size_t>(y) * picture->get_rowstride() +
                            static_cast<std::size_t>(x) * picture->get_n_channels();
    return (unsigned{p[0]} << 16) | (unsigned{p[1]} << 8) | p[2];
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return true;
}

bool XDoTool(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::Run(argv, {}, 30000).ExitCode == 0;
}

std::filesystem::path ScreenshotDirectory() {
    const char* chosen = std::getenv("TORVANE_SCREENSHOT_DIR");
    std::filesystem::path dir = chosen ? std::filesystem::path(chosen)
                                       : std::filesystem::path(TORVANE_BINARY_DIR) / "screenshots";
    std::filesystem::create_directories(dir);
    return dir;
}

namespace {

class GtkEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("TORVANE_SOUND", "off", 1);
        ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        if (::geteuid() == 0) ::setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
        display_ = std::make_unique<XvfbDisplay>();
        if (display_->Started() && gtk_init_check(nullptr, nullptr)) {
            Gtk::Main::init_gtkmm_internals();
            ready_ = true;
        }
    }
    static bool Ready() { return ready_; }

private:
    std::unique_ptr<XvfbDisplay> display_;
    static inline bool ready_ = false;
};

[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

}  // namespace

bool TestDisplayReady() {
    return GtkEnvironment::Ready();
}
