#include "gtk/BitmapCheckBtn.h"

#include <gdkmm/general.h>

CBitmapCheckBtn::CBitmapCheckBtn() {
    set_relief(Gtk::RELIEF_NONE);
    get_style_context()->add_class("skin-button");
}

bool CBitmapCheckBtn::LoadBitmaps(SkinPictures& pictures, int unchecked, int checked) {
    unchecked_ = pictures.Get(unchecked);
    checkedFace_ = pictures.Get(checked);
    if (!unchecked_ || !checkedFace_) {
        unchecked_.reset();
        checkedFace_.reset();
        return false;
    }
    queue_draw();
    return true;
}

void CBitmapCheckBtn::SizeToContent() {
    if (unchecked_) set_size_request(unchecked_->get_width(), unchecked_->get_height());
}

void CBitmapCheckBtn::SetCheck(int state) {
    checked_ = state;
    queue_draw();
}

bool CBitmapCheckBtn::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    const auto& face = checked_ != 0 ? checkedFace_ : unchecked_;
    if (face) {
        Gdk::Cairo::set_source_pixbuf(cr, face, 0, 0);
        cr->rectangle(0, 0, face->get_width(), face->get_height());
        cr->fill();
    }
    return true;
}
