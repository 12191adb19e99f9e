#include "BmpTestFiles.h"

namespace bmptest {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

}  // namespace

std::vector<std::uint8_t> MakeBmp(int width, int height, int bitCount,
                                  const std::vector<std::vector<std::uint8_t>>& rows,
                                  const std::vector<std::uint32_t>& palette,
                                  std::uint32_t coloursUsed) {
    const int stride = ((width * bitCount + 31) / 32) * 4;
    const std::uint32_t offset = 54 + static_cast<std::uint32_t>(palette.size()) * 4;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(stride * height);
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, offset + dataSize);
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(bitCount));
    Put32(out, 0);
    Put32(out, dataSize);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, coloursUsed);
    Put32(out, 0);
    for (auto quad : palette) Put32(out, quad);
    for (int y = height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row = rows[static_cast<std::size_t>(y)];
        row.resize(static_cast<std::size_t>(stride), 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<std::uint8_t> SolidBmp24(int width, int height, std::uint32_t rgb) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < width; ++x) {
        row.push_back(static_cast<std::uint8_t>(rgb));
        row.push_back(static_cast<std::uint8_t>(rgb >> 8));
        row.push_back(static_cast<std::uint8_t>(rgb >> 16));
    }
    return MakeBmp(width, height, 24, std::vector<std::vector<std::uint8_t>>(height, row));
}

}  // namespace bmptest
