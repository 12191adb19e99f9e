#include "gtk/BitmapButton.h"

#include <gdkmm/general.h>

CBitmapButton::CBitmapButton() {
    set_relief(Gtk::RELIEF_NONE);
    get_style_context()->add_class("skin-button");
}

bool CBitmapButton::LoadBitmaps(SkinPictures& pictures, int normal, int pressed, int focus,
                                int disabled) {
    faces_ = {};
    faces_[0] = pictures.Get(normal);
    if (!faces_[0]) return false;
    bool ok = true;
    const std::array<int, 3> others{pressed, focus, disabled};
    for (std::size_t i = 0; i < others.size(); ++i) {
        if (others[i] == 0) continue;
        faces_[i + 1] = pictures.Get(others[i]);
        ok = ok && static_cast<bool>(faces_[i + 1]);
    }
    queue_draw();
    return ok;
}

void CBitmapButton::SizeToContent() {
    if (faces_[0]) set_size_request(faces_[0]->get_width(), faces_[0]->get_height());
}

unsigned CBitmapButton::ItemState() const {
    unsigned state = 0;
    const Gtk::StateFlags flags = get_state_flags();
    if (flags & Gtk::STATE_FLAG_ACTIVE) state |= kItemSelected;
    if (has_focus()) state |= kItemFocus;
    if (!is_sensitive()) state |= kItemDisabled;
    return state;
}

ButtonFace CBitmapButton::CurrentFace() const {
    const LoadedFaces loaded{static_cast<bool>(faces_[1]), static_cast<bool>(faces_[2]),
                             static_cast<bool>(faces_[3])};
    return ChooseButtonFace(ItemState(), loaded);
}

void CBitmapButton::DrawFace(const Cairo::RefPtr<Cairo::Context>& cr) const {
    const auto& face = faces_[static_cast<std::size_t>(CurrentFace())];
    if (!face) return;
    // A block the size of the button from the picture's origin.
    cr->save();
    cr->rectangle(0, 0, std::min(get_allocated_width(), face->get_width()),
                  std::min(get_allocated_height(), face->get_height()));
    cr->clip();
    Gdk::Cairo::set_source_pixbuf(cr, face, 0, 0);
    cr->paint();
    cr->restore();
}

bool CBitmapButton::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    DrawFace(cr);
    return true;
}
