#include "gtk/BitmapDialog.h"

#include <gdkmm/general.h>

CBitmapDialog::CBitmapDialog(Gtk::Window* parent, SkinPictures& pictures) : pictures_(pictures) {
    set_decorated(false);
    set_app_paintable(true);
    set_resizable(false);
    set_modal(true);
    set_type_hint(Gdk::WINDOW_TYPE_HINT_DIALOG);
    if (parent) {
        set_transient_for(*parent);
        set_position(Gtk::WIN_POS_CENTER_ON_PARENT);
    } else {
        set_position(Gtk::WIN_POS_CENTER);
    }
    add_events(Gdk::BUTTON_PRESS_MASK);
    client_.signal_draw().connect(sigc::mem_fun(*this, &CBitmapDialog::OnPaintClient), false);
    add(client_);
    client_.show();
}

bool CBitmapDialog::SetBackground(int id, int mode) {
    mode_ = mode;
    const bool loaded = dib_.LoadFromResource(pictures_.Directory(), id);
    picture_ = loaded ? PixbufFromDib(dib_) : Glib::RefPtr<Gdk::Pixbuf>();
    queue_draw();
    return loaded;
}

int CBitmapDialog::DoModal() {
    OnShowDialog();
    show();
    present();
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    modalLoop_ = loop;
    g_main_loop_run(loop);
    modalLoop_ = nullptr;
    g_main_loop_unref(loop);
    hide();
    return result_;
}

void CBitmapDialog::EndDialog(int result) {
    result_ = result;
    if (modalLoop_) g_main_loop_quit(modalLoop_);
    hide();
}

bool CBitmapDialog::on_delete_event(GdkEventAny*) {
    EndDialog(2);
    return true;
}

bool CBitmapDialog::on_button_press_event(GdkEventButton* event) {
    // Caption-less: dragging the background moves the dialog.
    if (event->type == GDK_BUTTON_PRESS && event->button == 1) {
        begin_move_drag(static_cast<int>(event->button), static_cast<int>(event->x_root),
                        static_cast<int>(event->y_root), event->time);
        return true;
    }
    return Gtk::Window::on_button_press_event(event);
}

bool CBitmapDialog::OnPaintClient(const Cairo::RefPtr<Cairo::Context>& cr) {
    const int width = client_.get_allocated_width();
    const int height = client_.get_allocated_height();
    bool fillFirst = false;
    const auto blits = picture_ ? BitmapDialogBlits(mode_, width, height, picture_->get_width(),
                                                    picture_->get_height(), &fillFirst)
                                : std::vector<SkinBlit>{};
    if (blits.empty() || fillFirst) {
        auto style = get_style_context();
        style->render_background(cr, 0, 0, width, height);
    }
    for (const SkinBlit& blit : blits) {
        cr->save();
        cr->rectangle(blit.X, blit.Y, blit.Width, blit.Height);
        cr->clip();
        if (blit.Stretch) {
            cr->scale(double(width) / picture_->get_width(),
                      double(height) / picture_->get_height());
            Gdk::Cairo::set_source_pixbuf(cr, picture_, 0, 0);
        } else {
            Gdk::Cairo::set_source_pixbuf(cr, picture_, blit.X, blit.Y);
        }
        cr->paint();
        cr->restore();
    }
    return false;
}
