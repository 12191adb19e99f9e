#include "gtk/GtkMessageBox.h"

#include <gtkmm/messagedialog.h>

#include <cstdio>

void ShowGtkMessageBox(Gtk::Window* parent, const std::string& text, const std::string& caption,
                       MessageBoxIcon icon) {
    Gtk::MessageType type = Gtk::MESSAGE_OTHER;
    switch (icon) {
        case MessageBoxIcon::Stop:
            type = Gtk::MESSAGE_ERROR;
            break;
        case MessageBoxIcon::Information:
            type = Gtk::MESSAGE_INFO;
            break;
        case MessageBoxIcon::Warning:
            type = Gtk::MESSAGE_WARNING;
            break;
        case MessageBoxIcon::None:
            break;
    }
    // Every box also goes to the standard error stream, so that a launcher started from a
    // terminal, or by a script, leaves a record of what it told the player.
    std::fprintf(stderr, "torvane: %s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    // Plain text: the message is shown as it stands, never read as markup.
    std::unique_ptr<Gtk::MessageDialog> box;
    if (parent && parent->get_visible()) {
        box =
            std::make_unique<Gtk::MessageDialog>(*parent, text, false, type, Gtk::BUTTONS_OK, true);
    } else {
        box = std::make_unique<Gtk::MessageDialog>(text, false, type, Gtk::BUTTONS_OK, true);
        box->set_position(Gtk::WIN_POS_CENTER);
    }
    box->set_title(caption);
    box->set_keep_above(true);
    box->run();
    box->hide();
}
