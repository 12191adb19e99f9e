#include "ui/SkinLayout.h"

namespace {

std::vector<SkinBlit> Tiles(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight,
                            int blockWidth, int blockHeight) {
    std::vector<SkinBlit> blits;
    if (pictureWidth <= 0 || pictureHeight <= 0) return blits;
    for (int y = 0; y < clientHeight; y += pictureHeight) {
        for (int x = 0; x < clientWidth; x += pictureWidth) {
            blits.push_back({x, y, blockWidth, blockHeight, false});
        }
    }
    return blits;
}

}  // namespace

std::vector<SkinBlit> DialogSkinBlits(LayoutStyle style, int clientWidth, int clientHeight,
                                      int pictureWidth, int pictureHeight) {
    switch (style) {
        case LayoutStyle::Tile:
            return Tiles(clientWidth, clientHeight, pictureWidth, pictureHeight, clientWidth,
                         clientHeight);
        case LayoutStyle::Center:
            return {{(clientWidth - pictureWidth) / 2, (clientHeight - pictureHeight) / 2,
                     clientWidth, clientHeight, false}};
        case LayoutStyle::Stretch:
            return {{0, 0, clientWidth, clientHeight, true}};
        case LayoutStyle::TopLeft:
        case LayoutStyle::ResizeWindow:
        default:
            return {{0, 0, clientWidth, clientHeight, false}};
    }
}

std::vector<SkinBlit> BitmapDialogBlits(int mode, int clientWidth, int clientHeight,
                                        int pictureWidth, int pictureHeight, bool* fillFirst) {
    if (fillFirst) *fillFirst = false;
    if (pictureWidth <= 0 || pictureHeight <= 0) return {};
    if (mode == BackgroundStretch) return {{0, 0, clientWidth, clientHeight, true}};
    if (mode == BackgroundCenter) {
        if (fillFirst) *fillFirst = true;
        // Integer division rounds toward zero, as the halves must.
        return {{(clientWidth - pictureWidth) / 2, (clientHeight - pictureHeight) / 2, pictureWidth,
                 pictureHeight, false}};
    }
    return Tiles(clientWidth, clientHeight, pictureWidth, pictureHeight, pictureWidth,
                 pictureHeight);
}
