#pragma once
// Reading of Windows bitmap files (.bmp) from untrusted bytes.
//
// Skins are files of the deployment and can be replaced by anyone, so the reader checks every
// size against the bytes it was given before it allocates or reads: a refused file yields
// nullopt, never a crash or a huge allocation. Accepted: core (12-byte) and info headers
// (40, 52, 56, 108, 124 bytes), 1/4/8 bits with a colour table, RLE8/RLE4, 16 and 32 bits
// plain or with bit masks, 24 bits, bottom-up and (uncompressed) top-down rows.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct BmpImage {
    int Width = 0;
    int Height = 0;
    // Bits per pixel as the file stores them (1, 4, 8, 16, 24 or 32).
    int SourceBitCount = 0;
    // biClrUsed of the file (0 = the full table of 2^bits entries).
    std::uint32_t ColoursUsed = 0;
    // Colour table entries in file order (blue, green, red, reserved); files of 8 bits or fewer.
    std::vector<std::array<std::uint8_t, 4>> ColourTable;
    // Top-down, one entry per pixel: colour-table indices for 8 bits or fewer ...
    std::vector<std::uint8_t> Indices;
    // ... or red, green, blue triples for deeper files.
    std::vector<std::uint8_t> Rgb;
};

// Largest picture accepted, in pixels per side and in total.
inline constexpr int kMaxBmpSide = 16384;
inline constexpr std::int64_t kMaxBmpPixels = 64LL * 1024 * 1024;

std::optional<BmpImage> DecodeBmp(std::span<const std::uint8_t> file);
