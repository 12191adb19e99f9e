// Skin pictures come from the deployment's files: the reader must refuse damaged ones safely.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ui/DIBitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CDIBitmap dib;
    if (dib.LoadFromMemory(std::span<const std::uint8_t>(data, size))) {
        // Touch every pixel so a bad stride or table index shows up.
        volatile std::size_t sum = 0;
        for (std::uint8_t b : dib.ToRgb()) sum = sum + b;
    }
    return 0;
}
