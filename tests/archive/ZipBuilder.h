#pragma once
// Builds zip archives byte by byte for the reader's tests, including broken ones.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/UnzipFile.h"

namespace ziptest {

struct Entry {
    Entry(std::string name, std::string data, std::uint16_t method = 8,
          std::optional<std::uint32_t> crc = std::nullopt,
          std::optional<std::uint32_t> statedSize = std::nullopt)
        : Name(std::move(name)),
          Data(std::move(data)),
          Method(method),
          Crc(crc),
          StatedSize(statedSize) {}
    std::string Name;
    std::string Data;
    std::uint16_t Method = 8;                 // 0 stored, 8 deflated, anything else stored as is
    std::optional<std::uint32_t> Crc;         // overrides the real CRC-32 in both headers
    std::optional<std::uint32_t> StatedSize;  // overrides the uncompressed size in both headers
    std::uint32_t DosDateTime = 0x5A8B6C35;   // 2025-04-11 13:33:42
    std::uint32_t ExternalAttributes = 0x20;
};

struct Archive {
    std::vector<Entry> Entries;
    std::string Prefix;   // junk before the archive
    std::string Comment;  // archive comment
};

std::string Deflate(const std::string& data);
std::uint32_t Crc32(const std::string& data);
std::string Build(const Archive& archive);

// Opens the current entry and reads it in the reader's own pieces until a short one. The
// entry stays open: its CRC is checked by the next OpenEntry or Close.
std::string ReadAll(CUnzipFile& zip);
// The cause of the CZipException that `action` throws; 0 when it throws none.
int CauseOf(const std::function<void()>& action);

}  // namespace ziptest
