#include "archive/ZipEndRecords.h"

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;

std::uint64_t Le(std::string_view bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

}  // namespace

std::optional<ZipDirectoryLocation> FindCentralDirectory(std::string_view tail,
                                                         std::uint64_t archiveSize) {
    if (tail.size() < kEndSize || tail.size() > archiveSize) return std::nullopt;
    const std::uint64_t tailStart = archiveSize - tail.size();
    // The last end record whose comment reaches exactly to the archive's end.
    for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        if (Le(tail, at, 4) != kEndSignature) continue;
        if (at + kEndSize + Le(tail, at + 20, 2) != tail.size()) continue;
        ZipDirectoryLocation where{Le(tail, at + 16, 4), Le(tail, at + 12, 4)};
        const bool saturated = where.Offset == 0xFFFFFFFF || where.Size == 0xFFFFFFFF ||
                               Le(tail, at + 10, 2) == 0xFFFF;
        if (saturated) {
            if (at < kLocatorSize || Le(tail, at - kLocatorSize, 4) != kZip64LocatorSignature)
                return std::nullopt;
            const std::uint64_t record = Le(tail, at - kLocatorSize + 8, 8);
            if (record < tailStart || record - tailStart + kZip64EndSize > tail.size())
                return std::nullopt;
            const std::size_t r = static_cast<std::size_t>(record - tailStart);
            if (Le(tail, r, 4) != kZip64EndSignature) return std::nullopt;
            where = {Le(tail, r + 48, 8), Le(tail, r + 40, 8)};
        }
        const std::uint64_t recordStart = tailStart + at;
        if (where.Offset > recordStart || where.Size > recordStart - where.Offset)
            return std::nullopt;
        return where;
    }
    return std::nullopt;
}
