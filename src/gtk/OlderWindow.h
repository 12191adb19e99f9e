#pragma once
// An older launcher that is still open is asked to close: every top-level window of the
// X display titled `title`, other than `except`, receives a window-manager close request.
// Returns how many windows were asked. Does nothing where the display is not X11.

#include <string>

#include <gdkmm/window.h>

int CloseWindowsTitled(const std::string& title, const Glib::RefPtr<Gdk::Window>& except);
