#pragma once
// A two-state control with one picture per state. A click does nothing by itself: the owner
// toggles it with SetCheck(!GetCheck()) when it sees signal_clicked. Any non-zero state counts
// as checked.

#include <gtkmm/button.h>

#include "gtk/SkinPictures.h"

class CBitmapCheckBtn : public Gtk::Button {
public:
    CBitmapCheckBtn();

    bool LoadBitmaps(SkinPictures& pictures, int unchecked, int checked);
    void SizeToContent();
    // Stores the state and shows its face.
    void SetCheck(int state);
    int GetCheck() const { return checked_; }

protected:
    bool on_draw(const Cairo::RefPtr<Cairo::Context>& cr) override;

private:
    int checked_ = 0;
    Glib::RefPtr<Gdk::Pixbuf> unchecked_;
    Glib::RefPtr<Gdk::Pixbuf> checkedFace_;
};
