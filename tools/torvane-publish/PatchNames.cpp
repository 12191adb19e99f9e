#include "PatchNames.h"

#include <array>
#include <string_view>

#include "TreeScan.h"

bool IsStaleDataTrigger(const std::string& rootName) {
    std::string key = FoldCase(rootName);
    return key == "dec2.dat" || key == "ring.ozj" || key == "fonttest.ozt" ||
           key == "antidote01.bmd";
}

bool IsStaleDataVictim(const std::string& rootName) {
    static constexpr std::array<std::string_view, 9> kExtensions = {
        ".dat", ".bmd", ".txt", ".ozj", ".ozt", ".wav", ".att", ".obj", ".map"};
    std::string key = FoldCase(rootName);
    auto dot = key.rfind('.');
    if (dot == std::string::npos) return false;
    std::string_view ext(key.c_str() + dot);
    for (auto e : kExtensions) {
        if (ext == e) return true;
    }
    return false;
}
