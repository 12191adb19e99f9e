#include "patch/VersionNumber.h"

#include <cstdio>

namespace {

// atoi on one piece: optional blanks and sign, then leading digits; overflow wraps the way a
// 32-bit accumulator would, and only the low byte is kept anyway.
std::uint8_t PieceValue(std::string_view piece) {
    std::size_t i = 0;
    while (i < piece.size() && (piece[i] == ' ' || (piece[i] >= '\t' && piece[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(piece[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<std::uint8_t>(value & 0xFFu);
}

}  // namespace

VersionNumber VersionNumber::Parse(std::string_view text) {
    std::uint8_t parts[3]{};
    int found = 0;
    std::size_t pos = 0;
    while (found < 3) {
        while (pos < text.size() && text[pos] == '.') ++pos;
        if (pos >= text.size()) break;
        std::size_t end = pos;
        while (end < text.size() && text[end] != '.') ++end;
        parts[found++] = PieceValue(text.substr(pos, end - pos));
        pos = end;
    }
    return VersionNumber{parts[0], parts[1], parts[2]};
}

VersionNumber VersionNumber::FromPacked(std::int32_t packed) {
    return VersionNumber{static_cast<std::uint8_t>((packed >> 16) & 0xFF),
                         static_cast<std::uint8_t>((packed >> 8) & 0xFF),
                         static_cast<std::uint8_t>(packed & 0xFF)};
}

std::string VersionNumber::ConfigText() const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d.%02d.%02d", Major, Minor, Build);
    return buffer;
}

std::string VersionNumber::LogText() const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%d", Major, Minor, Build);
    return buffer;
}
