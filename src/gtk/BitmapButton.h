#pragma once
// A push button whose face is one of four state pictures (normal, pressed, focused,
// disabled). It has no look of its own beyond the picture; clicks arrive as signal_clicked.

#include <array>

#include <gtkmm/button.h>

#include "gtk/SkinPictures.h"
#include "ui/ButtonFace.h"

class CBitmapButton : public Gtk::Button {
public:
    CBitmapButton();

    // Picture ids, 0 = none. The normal one must load; then each other one given. False
    // when any fails (the normal one failing loads nothing else).
    bool LoadBitmaps(SkinPictures& pictures, int normal, int pressed = 0, int focus = 0,
                     int disabled = 0);
    // Makes the button the size of its normal picture.
    void SizeToContent();

    // The owner-draw item state of the button as it is now.
    unsigned ItemState() const;
    ButtonFace CurrentFace() const;

protected:
    bool on_draw(const Cairo::RefPtr<Cairo::Context>& cr) override;
    // Paints the chosen face into the button's whole area (clipped to the picture).
    void DrawFace(const Cairo::RefPtr<Cairo::Context>& cr) const;

private:
    // normal, pressed, focus, disabled
    std::array<Glib::RefPtr<Gdk::Pixbuf>, 4> faces_;
};
