#include "gtk/SkinStyles.h"

#include <gtkmm/cssprovider.h>
#include <gtkmm/stylecontext.h>

void InstallSkinStyles() {
    static bool installed = false;  // one sheet per process and screen
    if (installed) return;
    auto screen = Gdk::Screen::get_default();
    if (!screen) return;
    auto css = Gtk::CssProvider::create();
    css->load_from_data(
        "button.skin-button { padding: 0; margin: 0; border: none; min-width: 0;"
        "  min-height: 0; background: none; box-shadow: none; outline: none; }"
        "checkbutton.skin-box, radiobutton.skin-box { padding: 0; margin: 0; min-width: 0;"
        "  min-height: 0; }"
        "checkbutton.skin-box check, radiobutton.skin-box radio { min-width: 11px;"
        "  min-height: 11px; margin: 0; padding: 0; -gtk-icon-transform: scale(0.8); }"
        "entry.skin-entry { min-height: 0; padding: 0 2px; margin: 0; border-radius: 0;"
        "  font-family: \"\xEB\x8F\x8B\xEC\x9B\x80\", \"Noto Sans CJK KR\", sans-serif;"
        "  font-size: 9pt; }");
    Gtk::StyleContext::add_provider_for_screen(screen, css,
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    installed = true;
}
