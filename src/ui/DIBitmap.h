#pragma once
// A device-independent copy of a skin picture: an info block (the 40-byte BITMAPINFOHEADER
// followed by the colour table) and bottom-up pixel rows padded to 4 bytes, built by the rules
// a Windows DIB section copy follows, so that sizes, strides and palettes come out as the
// skins expect. Drawing goes through DibCanvas, which the toolkit front end implements.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ui/BmpFile.h"
#include "ui/BmpPalette.h"

struct BitmapInfoHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

// Colour-table entries for a source depth: 2, 16, 256, or none above 8 bits.
int DibColourTableEntries(int sourceBitCount);
// Bytes per stored row: rows of 8 bits per pixel for sources of 8 bits or fewer, else 24.
int DibRowStride(int width, int sourceBitCount);
// biSizeImage: the source depth's padded row size times the height.
std::uint32_t DibSizeImage(int width, int height, int sourceBitCount);

// Where a DIB is drawn; `rgb` holds top-down rows of red, green, blue bytes.
class DibCanvas {
public:
    virtual ~DibCanvas() = default;
    virtual void DrawRgb(std::span<const std::uint8_t> rgb, int width, int height, int x, int y,
                         int destWidth, int destHeight) = 0;
};

class CDIBitmap {
public:
    CDIBitmap() = default;
    virtual ~CDIBitmap() = default;
    CDIBitmap(const CDIBitmap&) = delete;
    CDIBitmap& operator=(const CDIBitmap&) = delete;

    // "skin/<id>.bmp" of the skin directory stands for bitmap resource <id>.
    bool LoadFromResource(const std::filesystem::path& skinDirectory, int resourceId);
    bool LoadFromFile(const std::filesystem::path& file);
    bool LoadFromMemory(std::span<const std::uint8_t> bytes);
    // Builds the info and pixel blocks from a decoded picture; false leaves the object empty.
    bool CreateFromImage(const BmpImage& image);

    virtual void DrawStretched(DibCanvas& canvas, int x, int y, int width, int height) const;
    virtual void DrawAt(DibCanvas& canvas, int x, int y) const;

    // Accessors; Pixels() being non-empty is what makes the picture usable.
    const std::optional<BitmapInfoHeader>& Info() const { return info_; }
    const std::vector<std::array<std::uint8_t, 4>>& ColourTable() const { return colours_; }
    const std::vector<std::uint8_t>& Pixels() const { return pixels_; }
    int Width() const { return info_ ? info_->biWidth : 0; }
    int Height() const { return info_ ? info_->biHeight : 0; }
    int BitCount() const { return info_ ? info_->biBitCount : 0; }
    int ColourCount() const;
    const CBmpPalette* Palette() const { return palette_.get(); }
    std::size_t InfoBlockSize() const { return info_ ? 40 + 4 * colours_.size() : 0; }

    // Colour of one pixel (x, y from the top-left), as 0xRRGGBB.
    std::uint32_t PixelRgb(int x, int y) const;
    // Every pixel, top-down rows of red, green, blue bytes.
    std::vector<std::uint8_t> ToRgb() const;

private:
    void Free();
    void BuildPalette();

    std::optional<BitmapInfoHeader> info_;
    std::vector<std::array<std::uint8_t, 4>> colours_;  // blue, green, red, reserved
    std::vector<std::uint8_t> pixels_;
    std::unique_ptr<CBmpPalette> palette_;
};
