#include "ui/ProgressBar.h"

#include <cstdint>

int ProgressFilledWidth(int position, int range, int pictureWidth) {
    const std::int64_t p = position < 1 ? 1 : position;
    const std::int64_t r = range < 1 ? 1 : range;
    // 64-bit: byte counts of large files times the picture width do not fit in 32 bits.
    return static_cast<int>(p * pictureWidth / r);
}

int ProgressPercent(int position, int range) {
    const double p = position < 1 ? 1 : position;
    const double r = range < 1 ? 1 : range;
    return static_cast<int>(p / r * 100.0);
}

bool CProgressBar::CreateBar(int pictureWidth, int pictureHeight, int x, int y,
                             InvalidateFunction owner) {
    width_ = 0;
    height_ = 0;
    shownWidth_ = -1;
    if (!owner || pictureWidth <= 0 || pictureHeight <= 0) return false;
    width_ = pictureWidth;
    height_ = pictureHeight;
    x_ = x;
    y_ = y;
    owner_ = std::move(owner);
    return true;
}

void CProgressBar::SetRange(int range) {
    range_ = range < 1 ? 1 : range;
}

void CProgressBar::SetPosition(int position) {
    position_ = position < 0 ? 0 : (position > range_ ? range_ : position);
    const int shown = FilledWidth();
    if (shown == shownWidth_) return;
    shownWidth_ = shown;
    if (owner_) owner_(Rect());
}
