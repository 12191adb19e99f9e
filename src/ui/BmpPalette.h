#pragma once
// The logical palette of a DIB of 8 bits per pixel or fewer.

#include <array>
#include <cstdint>
#include <vector>

struct PaletteEntry {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    std::uint8_t Flags = 0;
};

class CBmpPalette {
public:
    static constexpr std::uint16_t kVersion = 0x300;

    // `count` entries from a colour table of (blue, green, red, reserved) quads; entries the
    // table lacks stay black.
    CBmpPalette(const std::vector<std::array<std::uint8_t, 4>>& colourTable, int count);

    std::uint16_t Version() const { return kVersion; }
    const std::vector<PaletteEntry>& Entries() const { return entries_; }

private:
    std::vector<PaletteEntry> entries_;
};
