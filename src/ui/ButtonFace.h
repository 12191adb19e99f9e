#pragma once
// Which state picture a bitmap button shows, and the caption rules of the text buttons.
// Buttons do not track hovering: the face depends only on pressed, focused and disabled.

#include <cstdint>
#include <string>

// Owner-draw item state bits.
inline constexpr unsigned kItemSelected = 0x0001;
inline constexpr unsigned kItemDisabled = 0x0004;
inline constexpr unsigned kItemFocus = 0x0010;

enum class ButtonFace { Normal, Pressed, Focus, Disabled };

// The faces a button has loaded besides the normal one, which it always has.
struct LoadedFaces {
    bool Pressed = false;
    bool Focus = false;
    bool Disabled = false;
};

// Pressed, then focus, then disabled are tested in that order; a face that is not loaded
// falls back to the normal one.
ButtonFace ChooseButtonFace(unsigned itemState, const LoadedFaces& loaded);

// Caption buffers hold 31 and 63 characters; longer texts are cut there.
inline constexpr std::size_t kCaptionMax = 31;
inline constexpr std::size_t kFontNameMax = 63;
std::string ClampCaption(const std::string& text);
std::string ClampFontName(const std::string& text);

// Font weight of a caption: bold flag 1 gives 956, anything else 400.
int CaptionFontWeight(int boldFlag);

struct CaptionBox {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};
// The box the caption is centred in: the item rectangle with its right edge 3 pixels further.
CaptionBox CaptionRectangle(int left, int top, int right, int bottom);
// Left edge of a single-line text `textWidth` wide centred in `box` (rounded as Windows'
// centring does: toward the left).
int CentredTextLeft(const CaptionBox& box, int textWidth);
