#pragma once
// A private X display for window tests: Xvfb on the first free display number, DISPLAY set
// for this process, the server stopped when the object goes. Screenshots are read back from
// the display's root window.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <gdkmm/pixbuf.h>

#include "support/TestSupport.h"

class XvfbDisplay {
public:
    // Starts Xvfb (1024 x 768, 24 bits). Started() tells whether it came up.
    XvfbDisplay();
    // Stops the server so that it removes its lock file and socket.
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;
    bool Started() const { return started_; }
    const std::string& Name() const { return name_; }

private:
    std::unique_ptr<testsupport::ChildProcess> server_;
    std::string name_;
    bool started_ = false;
};

// The display every window test of this program shares: Xvfb started and GTK initialised
// once, before the first test, with sound off and the news view's engine set for Xvfb.
bool TestDisplayReady();

// The whole screen, or a rectangle of it, as it is now.
Glib::RefPtr<Gdk::Pixbuf> GrabScreen(int x, int y, int width, int height);
// 0xRRGGBB of one pixel of a pixbuf.
unsigned PixelAt(const Glib::RefPtr<Gdk::Pixbuf>& picture, int x, int y);
// Runs the GUI loop until `done` holds or `timeoutMs` passes; true when it held.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000);
// Runs xdotool with `arguments` on the test display and waits for it.
bool XDoTool(const std::vector<std::string>& arguments);
// Where screenshots of the tests go ($TORVANE_SCREENSHOT_DIR, else build/screenshots).
std::filesystem::path ScreenshotDirectory();
