#include "gtk/DialogSK.h"

#include <gdkmm/general.h>

CDialogSK::CDialogSK(SkinPictures& pictures) : pictures_(pictures) {
    set_decorated(false);
    set_app_paintable(true);
    add_events(Gdk::BUTTON_PRESS_MASK);
    client_.signal_draw().connect(sigc::mem_fun(*this, &CDialogSK::OnPaintClient), false);
    add(client_);
    client_.show();
}

CDialogSK::~CDialogSK() {
    ReleaseBackground();
}

bool CDialogSK::SetBackgroundBitmap(int id) {
    return SetBackgroundBitmap(pictures_.Get(id));
}

bool CDialogSK::SetBackgroundBitmap(Glib::RefPtr<Gdk::Pixbuf> picture) {
    ReleaseBackground();
    if (picture) {
        background_ = std::move(picture);
        backgroundSurface_ = SurfaceFromPixbuf(background_);
        bitmapWidth_ = background_->get_width();
        bitmapHeight_ = background_->get_height();
    }
    if (keyOn_) ApplyShape();
    if (get_realized()) queue_draw();
    return true;
}

void CDialogSK::ReleaseBackground() {
    background_.reset();
    backgroundSurface_.clear();
    bitmapWidth_ = 0;
    bitmapHeight_ = 0;
}

void CDialogSK::SetBackgroundLayout(LayoutStyle style) {
    layout_ = style;
    if (style == LayoutStyle::ResizeWindow && background_) {
        client_.set_size_request(bitmapWidth_, bitmapHeight_);
        resize(bitmapWidth_, bitmapHeight_);
    }
}

bool CDialogSK::SetColorKey(std::uint32_t rgb, bool on) {
    keyOn_ = on;
    key_ = rgb;
    ApplyShape();
    if (!on) queue_draw();
    return true;
}

void CDialogSK::ApplyShape() {
    auto window = get_window();
    if (!window) return;  // applied again once the window is realised
    if (!keyOn_ || !background_) {
        window->shape_combine_region(Cairo::RefPtr<Cairo::Region>(), 0, 0);
        window->input_shape_combine_region(Cairo::RefPtr<Cairo::Region>(), 0, 0);
        return;
    }
    // The key is read off the picture where the layout puts it at the window's origin.
    int x = 0, y = 0;
    const auto blits = DialogSkinBlits(layout_, get_allocated_width(), get_allocated_height(),
                                       bitmapWidth_, bitmapHeight_);
    if (!blits.empty() && !blits[0].Stretch && layout_ == LayoutStyle::Center) {
        x = blits[0].X;
        y = blits[0].Y;
    }
    auto region = OpaqueRegion(background_, key_, x, y);
    window->shape_combine_region(region, 0, 0);
    window->input_shape_combine_region(region, 0, 0);
}

void CDialogSK::on_realize() {
    Gtk::Window::on_realize();
    if (keyOn_) ApplyShape();
}

void CDialogSK::on_size_allocate(Gtk::Allocation& allocation) {
    Gtk::Window::on_size_allocate(allocation);
    if (background_) queue_draw();
}

bool CDialogSK::on_button_press_event(GdkEventButton* event) {
    if (dragMove_ && event->type == GDK_BUTTON_PRESS && event->button == 1) {
        begin_move_drag(static_cast<int>(event->button), static_cast<int>(event->x_root),
                        static_cast<int>(event->y_root), event->time);
        return true;
    }
    return Gtk::Window::on_button_press_event(event);
}

void CDialogSK::PaintOverBackground(const Cairo::RefPtr<Cairo::Context>&) {}

bool CDialogSK::OnPaintClient(const Cairo::RefPtr<Cairo::Context>& cr) {
    const int width = client_.get_allocated_width();
    const int height = client_.get_allocated_height();
    cr->save();
    cr->set_source_rgb(0, 0, 0);
    cr->paint();
    if (backgroundSurface_) {
        for (const SkinBlit& blit :
             DialogSkinBlits(layout_, width, height, bitmapWidth_, bitmapHeight_)) {
            cr->save();
            cr->rectangle(blit.X, blit.Y, blit.Width, blit.Height);
            cr->clip();
            if (blit.Stretch) {
                cr->scale(double(width) / bitmapWidth_, double(height) / bitmapHeight_);
                cr->set_source(backgroundSurface_, 0, 0);
            } else {
                cr->set_source(backgroundSurface_, blit.X, blit.Y);
            }
            cr->paint();
            cr->restore();
        }
    }
    cr->restore();
    PaintOverBackground(cr);
    return false;  // the children draw next
}
