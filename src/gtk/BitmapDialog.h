#pragma once
// A caption-less dialog window painted with a device-independent picture, tiled, stretched
// or centred (BackgroundMode), with its controls at fixed client positions drawing over it
// without a background of their own. It runs modally on a main loop of its own.

#include <gtkmm/fixed.h>
#include <gtkmm/window.h>

#include "gtk/SkinPictures.h"
#include "ui/DIBitmap.h"
#include "ui/SkinLayout.h"

class CBitmapDialog : public Gtk::Window {
public:
    CBitmapDialog(Gtk::Window* parent, SkinPictures& pictures);

    // Loads bitmap `id` of the skin; false (and the plain background) when it is missing.
    bool SetBackground(int id, int mode);
    const CDIBitmap& Background() const { return dib_; }

    // Shows the dialog and returns the code given to EndDialog.
    int DoModal();
    void EndDialog(int result);

protected:
    Gtk::Fixed& Client() { return client_; }
    SkinPictures& Pictures() { return pictures_; }
    bool on_button_press_event(GdkEventButton* event) override;
    bool on_delete_event(GdkEventAny* event) override;
    // Called when the dialog is about to show; controls take their states here.
    virtual void OnShowDialog() {}

private:
    bool OnPaintClient(const Cairo::RefPtr<Cairo::Context>& cr);

    SkinPictures& pictures_;
    Gtk::Fixed client_;
    CDIBitmap dib_;
    Glib::RefPtr<Gdk::Pixbuf> picture_;
    int mode_ = BackgroundTile;
    int result_ = 2;
    GMainLoop* modalLoop_ = nullptr;
};
