#pragma once
// Finds an archive's central directory from the last bytes of the archive alone, for reading
// single entries of a remote archive by byte ranges: the end-of-central-directory record
// (searched back over a comment of up to 64 KiB) and, when its fields are saturated, the zip64
// end record that its locator points to (which must lie within the same bytes).

#include <cstdint>
#include <optional>
#include <string_view>

struct ZipDirectoryLocation {
    std::uint64_t Offset = 0;  // from the archive's first byte
    std::uint64_t Size = 0;
};

// How many bytes from the end hold the end records of an archive without a comment (the
// zip64 record and locator included).
inline constexpr std::uint64_t kZipPlainTailBytes = 22 + 20 + 56;
// How many hold them whatever the comment.
inline constexpr std::uint64_t kZipLongestTailBytes = 22 + 0xFFFF + 20 + 56;

// `tail` is the last tail.size() bytes of an archive of `archiveSize` bytes. Nullopt when no
// end record is found in them, or what it says does not fit in the archive.
std::optional<ZipDirectoryLocation> FindCentralDirectory(std::string_view tail,
                                                         std::uint64_t archiveSize);
