#include "ui/BmpFile.h"

#include <bit>
#include <cstdlib>

namespace {

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
// Beyond 1,000,000 pixels per metre (25,400 dpi) a density field is garbage, not a measure.
constexpr std::int32_t kMaxDensity = 1000000;

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    std::uint16_t U16(std::size_t offset) const {
        return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    }
    std::uint32_t U32(std::size_t offset) const {
        return static_cast<std::uint32_t>(bytes_[offset]) |
               (static_cast<std::uint32_t>(bytes_[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes_[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
    }
    std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
    std::uint8_t U8(std::size_t offset) const { return bytes_[offset]; }
    std::size_t Size() const { return bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
};

struct Header {
    std::uint32_t HeaderSize = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0;  // as stored: negative for top-down rows
    unsigned Planes = 0;
    unsigned BitCount = 0;
    std::uint32_t Compression = kRgb;
    std::uint32_t SizeImage = 0;
    std::int32_t XDensity = 0;
    std::int32_t YDensity = 0;
    std::uint32_t ColoursUsed = 0;
    std::array<std::uint32_t, 3> Masks{};  // red, green, blue
    bool HasMasks = false;
};

std::optional<Header> ReadHeader(const Reader& in) {
    Header h;
    h.HeaderSize = in.U32(14);
    const std::uint32_t size = h.HeaderSize;
    if (size != 12 && size != 40 && size != 52 && size != 56 && size != 108 && size != 124) {
        return std::nullopt;
    }
    if (!in.Has(14, size)) return std::nullopt;
    if (size == 12) {
        h.Width = in.U16(18);
        h.Height = in.U16(20);
        h.Planes = in.U16(22);
        h.BitCount = in.U16(24);
        return h;
    }
    h.Width = in.I32(18);
    h.Height = in.I32(22);
    h.Planes = in.U16(26);
    h.BitCount = in.U16(28);
    h.Compression = in.U32(30);
    h.SizeImage = in.U32(34);
    h.XDensity = in.I32(38);
    h.YDensity = in.I32(42);
    h.ColoursUsed = in.U32(46);
    if (h.Compression == kBitFields) {
        // Masks live in the larger headers, or right after a 40-byte one.
        const std::size_t at = 54;
        if (!in.Has(at, 12)) return std::nullopt;
        h.Masks = {in.U32(at), in.U32(at + 4), in.U32(at + 8)};
        h.HasMasks = true;
    }
    return h;
}

bool ValidMask(std::uint32_t mask, unsigned bitCount) {
    if (mask == 0) return false;
    if (bitCount == 16 && mask > 0xFFFFu) return false;
    const unsigned shift = static_cast<unsigned>(std::countr_zero(mask));
    const std::uint32_t bits = mask >> shift;
    return (bits & (bits + 1)) == 0;  // one contiguous run of ones
}

std::uint8_t Channel(std::uint32_t pixel, std::uint32_t mask) {
    const unsigned shift = static_cast<unsigned>(std::countr_zero(mask));
    const std::uint64_t max = mask >> shift;
    const std::uint64_t value = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>(value * 255 / max);
}

// Decodes RLE8/RLE4 data into `indices` (top-down). Runs that leave the picture are refused.
bool DecodeRle(const Reader& in, std::size_t pos, std::size_t end, bool four, int width, int height,
               std::vector<std::uint8_t>& indices) {
    std::int64_t x = 0;
    std::int64_t y = 0;  // from the bottom row
    auto put = [&](std::uint8_t value) {
        if (x >= width || y >= height) return false;
        indices[static_cast<std::size_t>((height - 1 - y) * width + x)] = value;
        ++x;
        return true;
    };
    while (pos + 2 <= end) {
        const unsigned count = in.U8(pos);
        const unsigned value = in.U8(pos + 1);
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) {
                const unsigned nibble = (i % 2 == 0) ? (value >> 4) : (value & 0x0F);
                if (!put(static_cast<std::uint8_t>(four ? nibble : value))) return false;
            }
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
            if (y > height) return false;
        } else if (value == 1) {  // end of picture
            return true;
        } else if (value == 2) {  // move
            if (pos + 2 > end) return false;
            x += in.U8(pos);
            y += in.U8(pos + 1);
            pos += 2;
            if (x > width || y > height) return false;
        } else {  // literal run, padded to a 16-bit boundary
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t padded = bytes + (bytes & 1);
            if (pos + padded > end) return false;
            for (unsigned i = 0; i < value; ++i) {
                std::uint8_t v = four ? in.U8(pos + i / 2) : in.U8(pos + i);
                if (four) v = (i % 2 == 0) ? (v >> 4) : (v & 0x0F);
                if (!put(v)) return false;
            }
            pos += padded;
        }
    }
    // Data ran out without an end-of-picture mark: keep what was drawn.
    return true;
}

}  // namespace

std::optional<BmpImage> DecodeBmp(std::span<const std::uint8_t> file) {
    const Reader in(file);
    if (!in.Has(0, 18) || in.U8(0) != 'B' || in.U8(1) != 'M') return std::nullopt;
    const std::uint32_t declaredSize = in.U32(2);
    if (declaredSize != 0 && declaredSize > in.Size()) return std::nullopt;
    const std::uint32_t pixelOffset = in.U32(10);

    const auto header = ReadHeader(in);
    if (!header) return std::nullopt;
    const Header& h = *header;
    const bool topDown = h.Height < 0;
    const std::int64_t width = h.Width;
    const std::int64_t height = topDown ? -h.Height : h.Height;
    if (h.Planes != 1 || width <= 0 || height <= 0 || width > kMaxBmpSide || height > kMaxBmpSide ||
        width * height > kMaxBmpPixels) {
        return std::nullopt;
    }
    const unsigned bits = h.BitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return std::nullopt;
    }
    if (h.XDensity < 0 || h.YDensity < 0 || h.XDensity > kMaxDensity || h.YDensity > kMaxDensity) {
        return std::nullopt;
    }
    const bool rle = h.Compression == kRle8 || h.Compression == kRle4;
    if (h.Compression == kRle8 && bits != 8) return std::nullopt;
    if (h.Compression == kRle4 && bits != 4) return std::nullopt;
    if (h.Compression == kBitFields && bits != 16 && bits != 32) return std::nullopt;
    if (h.Compression > kBitFields) return std::nullopt;
    if (rle && topDown) return std::nullopt;  // compressed pictures are bottom-up only
    if (h.ColoursUsed > 256) return std::nullopt;

    BmpImage image;
    image.Width = static_cast<int>(width);
    image.Height = static_cast<int>(height);
    image.SourceBitCount = static_cast<int>(bits);

    std::size_t tableOffset = 14 + h.HeaderSize;
    if (h.HeaderSize == 40 && h.Compression == kBitFields) tableOffset += 12;
    if (bits <= 8) {
        const std::uint32_t full = 1u << bits;
        if (h.ColoursUsed > full) return std::nullopt;
        image.ColoursUsed = h.ColoursUsed;
        const std::uint32_t count = h.ColoursUsed != 0 ? h.ColoursUsed : full;
        const std::size_t entry = h.HeaderSize == 12 ? 3 : 4;
        if (!in.Has(tableOffset, count * entry)) return std::nullopt;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = tableOffset + i * entry;
            image.ColourTable.push_back({in.U8(at), in.U8(at + 1), in.U8(at + 2), 0});
        }
    }

    if (pixelOffset < 14 + h.HeaderSize || pixelOffset >= in.Size()) return std::nullopt;
    const std::size_t available = in.Size() - pixelOffset;
    if (h.SizeImage != 0 && h.SizeImage > available && !rle) return std::nullopt;

    const std::size_t pixels = static_cast<std::size_t>(width * height);
    if (rle) {
        if (h.SizeImage > available) return std::nullopt;
        const std::size_t end = pixelOffset + (h.SizeImage != 0 ? h.SizeImage : available);
        image.Indices.assign(pixels, 0);
        if (!DecodeRle(in, pixelOffset, end, h.Compression == kRle4, image.Width, image.Height,
                       image.Indices)) {
            return std::nullopt;
        }
    } else {
        const std::int64_t stride = ((width * bits + 31) / 32) * 4;
        if (stride * height > static_cast<std::int64_t>(available)) return std::nullopt;
        std::array<std::uint32_t, 3> masks = h.Masks;
        if (!h.HasMasks && bits == 16) masks = {0x7C00, 0x03E0, 0x001F};
        if (!h.HasMasks && bits == 32) masks = {0xFF0000, 0x00FF00, 0x0000FF};
        if (bits == 16 || bits == 32) {
            for (auto mask : masks) {
                if (!ValidMask(mask, bits)) return std::nullopt;
            }
        }
        if (bits <= 8) {
            image.Indices.resize(pixels);
        } else {
            image.Rgb.resize(pixels * 3);
        }
        for (std::int64_t row = 0; row < height; ++row) {
            const std::int64_t fileRow = topDown ? row : height - 1 - row;
            const std::size_t base = pixelOffset + static_cast<std::size_t>(fileRow * stride);
            for (std::int64_t x = 0; x < width; ++x) {
                const std::size_t out = static_cast<std::size_t>(row * width + x);
                if (bits <= 8) {
                    const std::size_t bit = static_cast<std::size_t>(x) * bits;
                    const std::uint8_t byte = in.U8(base + bit / 8);
                    const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
                    image.Indices[out] =
                        static_cast<std::uint8_t>((byte >> shift) & ((1u << bits) - 1));
                    continue;
                }
                std::uint8_t r = 0, g = 0, b = 0;
                if (bits == 24) {
                    const std::size_t at = base + static_cast<std::size_t>(x) * 3;
                    b = in.U8(at);
                    g = in.U8(at + 1);
                    r = in.U8(at + 2);
                } else {
                    const std::size_t at = base + static_cast<std::size_t>(x) * (bits / 8);
                    const std::uint32_t px = bits == 16 ? in.U16(at) : in.U32(at);
                    r = Channel(px, masks[0]);
                    g = Channel(px, masks[1]);
                    b = Channel(px, masks[2]);
                }
                image.Rgb[out * 3] = r;
                image.Rgb[out * 3 + 1] = g;
                image.Rgb[out * 3 + 2] = b;
            }
        }
    }
    // An index past the colour table has no colour: the file is damaged.
    for (std::uint8_t index : image.Indices) {
        if (index >= image.ColourTable.size()) return std::nullopt;
    }
    return image;
}
