#pragma once
// A rectangle of a window's client area in pixels: Left and Top inside, Right and Bottom just
// outside, as the toolkits' invalidation calls take it.

struct WindowRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    constexpr int Width() const { return Right - Left; }
    constexpr int Height() const { return Bottom - Top; }
    constexpr bool Empty() const { return Right <= Left || Bottom <= Top; }
};
