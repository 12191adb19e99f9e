#pragma once
// A bitmap button with a caption of its own drawn over its face: a font, size, weight and
// colour of its own, centred on one line in the button widened by 3 pixels to the right.
// The caption does not move when the button is pressed; only the picture changes.

#include <cstdint>
#include <string>

#include "gtk/BitmapButton.h"

class CTextBitmapButton : public CBitmapButton {
public:
    // Texts are UTF-8 here (the window decodes the core's bytes); at most 31 characters.
    void SetCaption(const std::string& text);
    void SetFontSize(int width, int height);
    void SetCaptionColor(std::uint32_t rgb);
    void SetBold(int flag) { bold_ = flag; }
    void SetFontName(const std::string& face);

    const std::string& Caption() const { return caption_; }

protected:
    bool on_draw(const Cairo::RefPtr<Cairo::Context>& cr) override;

private:
    std::string caption_;
    std::string fontFace_;
    std::uint32_t colour_ = 0;
    int fontWidth_ = 0;
    int fontHeight_ = 0;
    int bold_ = 0;
};
