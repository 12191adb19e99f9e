#pragma once
// Where a background picture goes on a window, worked out without any toolkit: the window
// front end turns each SkinBlit into one copy (or one scaled copy) of the picture.

#include <vector>

// How CDialogSK lays its picture out.
enum class LayoutStyle { TopLeft = 0, Tile = 1, Center = 2, Stretch = 3, ResizeWindow = 4 };

// How CBitmapDialog lays its picture out; values other than these are drawn tiled.
enum BackgroundMode : int { BackgroundTile = 0, BackgroundStretch = 1, BackgroundCenter = 2 };

struct SkinBlit {
    int X = 0;  // destination, window client pixels
    int Y = 0;
    int Width = 0;  // destination size; a copy of the picture's top-left block unless Stretch
    int Height = 0;
    bool Stretch = false;  // the whole picture scaled onto the destination
};

// The copies CDialogSK's erase makes of a picture of pictureWidth x pictureHeight onto a
// client area of clientWidth x clientHeight. Tiles carry the whole client size, as the erase
// copies a client-sized block at every step; the picture's edge cuts them.
std::vector<SkinBlit> DialogSkinBlits(LayoutStyle style, int clientWidth, int clientHeight,
                                      int pictureWidth, int pictureHeight);

// The copies CBitmapDialog's erase makes. `fillFirst` is set when the window's plain
// background colour is painted before them (centred mode).
std::vector<SkinBlit> BitmapDialogBlits(int mode, int clientWidth, int clientHeight,
                                        int pictureWidth, int pictureHeight, bool* fillFirst);
