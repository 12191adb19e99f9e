#include "ui/BmpPalette.h"

CBmpPalette::CBmpPalette(const std::vector<std::array<std::uint8_t, 4>>& colourTable, int count) {
    entries_.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (std::size_t i = 0; i < entries_.size() && i < colourTable.size(); ++i) {
        entries_[i] = PaletteEntry{colourTable[i][2], colourTable[i][1], colourTable[i][0], 0};
    }
}
