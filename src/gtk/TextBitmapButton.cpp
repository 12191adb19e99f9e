#include "gtk/TextBitmapButton.h"

#include <glibmm/ustring.h>

#include "gtk/SkinText.h"

namespace {

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(const std::string& utf8, std::size_t count) {
    const Glib::ustring text(utf8);
    if (!text.validate() || text.size() <= count) return utf8;
    return text.substr(0, count);
}

}  // namespace

void CTextBitmapButton::SetCaption(const std::string& text) {
    caption_ = FirstCharacters(text, kCaptionMax);
    queue_draw();
}

void CTextBitmapButton::SetFontSize(int width, int height) {
    fontWidth_ = width;
    fontHeight_ = height;
    queue_draw();
}

void CTextBitmapButton::SetCaptionColor(std::uint32_t rgb) {
    colour_ = rgb;
    queue_draw();
}

void CTextBitmapButton::SetFontName(const std::string& face) {
    fontFace_ = FirstCharacters(face, kFontNameMax);
}

bool CTextBitmapButton::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    DrawFace(cr);
    if (caption_.empty()) return true;
    // The font is made for every draw, like the face: nothing is cached between paints.
    const auto font = SkinFont(fontFace_, fontHeight_, CaptionFontWeight(bold_));
    const CaptionBox box = CaptionRectangle(0, 0, get_allocated_width(), get_allocated_height());
    double width = 0, height = 0;
    MeasureText(cr, caption_, font, fontWidth_, &width, &height);
    const double left = CentredTextLeft(box, static_cast<int>(width));
    const double top = box.Top + (box.Bottom - box.Top - height) / 2.0;
    DrawCentredText(cr, caption_, font, colour_, left + width / 2.0, top, fontWidth_);
    return true;
}
