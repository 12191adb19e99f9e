#include "gtk/OlderWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

#include <vector>

namespace {

std::string WindowTitle(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        if (!title.empty()) return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

void CollectTopLevels(Display* display, Window window, int depth, std::vector<Window>& out) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) {
        out.push_back(children[i]);
        // Reparenting window managers put clients one or two levels down.
        if (depth < 2) CollectTopLevels(display, children[i], depth + 1, out);
    }
    if (children) XFree(children);
}

}  // namespace

int CloseWindowsTitled(const std::string& title, const Glib::RefPtr<Gdk::Window>& except) {
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    if (!gdkDisplay || !GDK_IS_X11_DISPLAY(gdkDisplay)) return 0;
    Display* display = GDK_DISPLAY_XDISPLAY(gdkDisplay);
    Window own = 0;
    if (except && GDK_IS_X11_WINDOW(except->gobj())) own = GDK_WINDOW_XID(except->gobj());

    std::vector<Window> windows;
    CollectTopLevels(display, DefaultRootWindow(display), 0, windows);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    int asked = 0;
    for (Window window : windows) {
        if (window == own || WindowTitle(display, window) != title) continue;
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(deleteWindow);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        ++asked;
    }
    XFlush(display);
    return asked;
}
