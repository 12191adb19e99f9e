#pragma once
// Small BMP files built in memory for the loader tests.

#include <cstdint>
#include <vector>

namespace bmptest {

// A bottom-up BITMAPINFOHEADER file. `rows` are top-down, already packed for `bitCount`
// (without padding); `palette` is blue, green, red, reserved quads.
std::vector<std::uint8_t> MakeBmp(int width, int height, int bitCount,
                                  const std::vector<std::vector<std::uint8_t>>& rows,
                                  const std::vector<std::uint32_t>& palette = {},
                                  std::uint32_t coloursUsed = 0);

// A 24-bit picture filled with one colour (0xRRGGBB).
std::vector<std::uint8_t> SolidBmp24(int width, int height, std::uint32_t rgb);

}  // namespace bmptest
