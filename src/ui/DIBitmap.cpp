#include "ui/DIBitmap.h"

#include <fstream>
#include <iterator>

namespace {

int PackedStride(int width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

}  // namespace

int DibColourTableEntries(int sourceBitCount) {
    switch (sourceBitCount) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

int DibRowStride(int width, int sourceBitCount) {
    return PackedStride(width, sourceBitCount <= 8 ? 8 : 24);
}

std::uint32_t DibSizeImage(int width, int height, int sourceBitCount) {
    return static_cast<std::uint32_t>(PackedStride(width, sourceBitCount)) *
           static_cast<std::uint32_t>(height);
}

bool CDIBitmap::LoadFromResource(const std::filesystem::path& skinDirectory, int resourceId) {
    return LoadFromFile(skinDirectory / (std::to_string(resourceId) + ".bmp"));
}

bool CDIBitmap::LoadFromFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        Free();
        return false;
    }
    // Skins are small; anything far beyond the largest accepted picture is not one.
    constexpr std::streamoff kMaxFile = 4 * kMaxBmpPixels + (1 << 16);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxFile) {
        Free();
        return false;
    }
    in.seekg(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    if (!in) {
        Free();
        return false;
    }
    return LoadFromMemory(bytes);
}

bool CDIBitmap::LoadFromMemory(std::span<const std::uint8_t> bytes) {
    const auto image = DecodeBmp(bytes);
    if (!image) {
        Free();
        return false;
    }
    return CreateFromImage(*image);
}

bool CDIBitmap::CreateFromImage(const BmpImage& image) {
    Free();
    const int bits = image.SourceBitCount;
    const int width = image.Width;
    const int height = image.Height;
    if (width <= 0 || height <= 0) return false;
    const std::size_t pixelCount = static_cast<std::size_t>(width) * height;
    if (bits <= 8 ? image.Indices.size() != pixelCount : image.Rgb.size() != pixelCount * 3) {
        return false;
    }

    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(bits <= 8 ? bits : 24);
    header.biSizeImage = DibSizeImage(width, height, bits);
    header.biClrUsed = bits <= 8 ? image.ColoursUsed : 0;

    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(DibRowStride(width, bits)) *
                                     static_cast<std::size_t>(height));
    const int stride = PackedStride(width, header.biBitCount);
    for (int row = 0; row < height; ++row) {
        // Stored bottom-up: the picture's top row is the block's last row.
        std::uint8_t* out = pixels.data() + static_cast<std::size_t>(height - 1 - row) * stride;
        for (int x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(row) * width + x;
            if (bits <= 8) {
                const int bit = x * bits;
                const int shift = 8 - bits - bit % 8;
                out[bit / 8] =
                    static_cast<std::uint8_t>(out[bit / 8] | (image.Indices[at] << shift));
            } else {
                out[x * 3] = image.Rgb[at * 3 + 2];
                out[x * 3 + 1] = image.Rgb[at * 3 + 1];
                out[x * 3 + 2] = image.Rgb[at * 3];
            }
        }
    }

    colours_.assign(static_cast<std::size_t>(DibColourTableEntries(bits)), {0, 0, 0, 0});
    for (std::size_t i = 0; i < colours_.size() && i < image.ColourTable.size(); ++i) {
        colours_[i] = image.ColourTable[i];
        colours_[i][3] = 0;
    }
    info_ = header;
    pixels_ = std::move(pixels);
    BuildPalette();
    return true;
}

int CDIBitmap::ColourCount() const {
    if (!info_ || info_->biBitCount > 8) return 0;
    return info_->biClrUsed != 0 ? static_cast<int>(info_->biClrUsed) : 1 << info_->biBitCount;
}

void CDIBitmap::BuildPalette() {
    palette_.reset();
    if (info_ && info_->biBitCount < 9) {
        palette_ = std::make_unique<CBmpPalette>(colours_, ColourCount());
    }
}

void CDIBitmap::Free() {
    info_.reset();
    colours_.clear();
    pixels_.clear();
    palette_.reset();
}

std::uint32_t CDIBitmap::PixelRgb(int x, int y) const {
    if (!info_ || x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
    const int bits = info_->biBitCount;
    const int stride = PackedStride(Width(), bits);
    const std::uint8_t* row = pixels_.data() + static_cast<std::size_t>(Height() - 1 - y) * stride;
    if (bits <= 8) {
        const int bit = x * bits;
        const int index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
        if (static_cast<std::size_t>(index) >= colours_.size()) return 0;
        const auto& c = colours_[static_cast<std::size_t>(index)];
        return (std::uint32_t{c[2]} << 16) | (std::uint32_t{c[1]} << 8) | c[0];
    }
    const std::uint8_t* p = row + x * 3;
    return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

std::vector<std::uint8_t> CDIBitmap::ToRgb() const {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(Width()) * Height() * 3);
    std::size_t at = 0;
    for (int y = 0; y < Height(); ++y) {
        for (int x = 0; x < Width(); ++x) {
            const std::uint32_t c = PixelRgb(x, y);
            rgb[at++] = static_cast<std::uint8_t>(c >> 16);
            rgb[at++] = static_cast<std::uint8_t>(c >> 8);
            rgb[at++] = static_cast<std::uint8_t>(c);
        }
    }
    return rgb;
}

void CDIBitmap::DrawStretched(DibCanvas& canvas, int x, int y, int width, int height) const {
    if (!info_ || pixels_.empty()) return;
    const auto rgb = ToRgb();
    canvas.DrawRgb(rgb, Width(), Height(), x, y, width, height);
}

void CDIBitmap::DrawAt(DibCanvas& canvas, int x, int y) const {
    DrawStretched(canvas, x, y, Width(), Height());
}
