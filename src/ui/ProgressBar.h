#pragma once
// A progress bar painted from a picture: the filled part is the left part of the picture,
// revealed in proportion to the position. It is not a window; it remembers where it sits on
// its owner and asks the owner to repaint that spot. The patch engine sets range and
// position; the owner's paint handler draws it (FilledWidth) and prints GetPercent.

#include <functional>

#include "ui/WindowRect.h"

// The filled width for `position` of `range` on a picture `pictureWidth` wide. Position and
// range count as at least 1.
int ProgressFilledWidth(int position, int range, int pictureWidth);
// The whole percentage shown beside a bar (truncated toward zero).
int ProgressPercent(int position, int range);

class CProgressBar {
public:
    // Marks a rectangle of the owner window for repainting (no erase).
    using InvalidateFunction = std::function<void(const WindowRect&)>;

    // The picture's size stands for the bitmap; false (nothing stored) when the owner is
    // missing or the picture is empty. Position and range are left as they are.
    bool CreateBar(int pictureWidth, int pictureHeight, int x, int y, InvalidateFunction owner);

    // Stores the range, raised to 1 when smaller. The position is not re-clamped.
    void SetRange(int range);
    // Clamps to 0..range and stores it; the bar's rectangle is invalidated only when the
    // filled width it shows changes.
    void SetPosition(int position);

    int GetPercent() const { return ProgressPercent(position_, range_); }
    int FilledWidth() const { return ProgressFilledWidth(position_, range_, width_); }
    int Position() const { return position_; }
    int Range() const { return range_; }
    WindowRect Rect() const { return {x_, y_, x_ + width_, y_ + height_}; }

private:
    int x_ = 0;
    int y_ = 0;
    int width_ = 0;
    int height_ = 0;
    int position_ = 0;
    int range_ = 1;
    int shownWidth_ = -1;
    InvalidateFunction owner_;
};
