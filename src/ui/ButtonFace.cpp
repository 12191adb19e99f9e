#include "ui/ButtonFace.h"

ButtonFace ChooseButtonFace(unsigned itemState, const LoadedFaces& loaded) {
    // Each rule applies only when the ones before it did not pick a face.
    if ((itemState & kItemSelected) && loaded.Pressed) return ButtonFace::Pressed;
    if ((itemState & kItemFocus) && loaded.Focus) return ButtonFace::Focus;
    if ((itemState & kItemDisabled) && loaded.Disabled) return ButtonFace::Disabled;
    return ButtonFace::Normal;
}

std::string ClampCaption(const std::string& text) {
    return text.substr(0, kCaptionMax);
}

std::string ClampFontName(const std::string& text) {
    return text.substr(0, kFontNameMax);
}

int CaptionFontWeight(int boldFlag) {
    return boldFlag == 1 ? 956 : 400;
}

CaptionBox CaptionRectangle(int left, int top, int right, int bottom) {
    return {left, top, right + 3, bottom};
}

int CentredTextLeft(const CaptionBox& box, int textWidth) {
    return box.Left + (box.Right - box.Left - textWidth) / 2;
}
