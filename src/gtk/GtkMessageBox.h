#pragma once
// Modal message boxes with an OK button and the icon the core asks for. Texts are UTF-8.

#include <string>

#include <gtkmm/window.h>

#include "platform/MessageBox.h"

void ShowGtkMessageBox(Gtk::Window* parent, const std::string& text, const std::string& caption,
                       MessageBoxIcon icon);
