#pragma once
// Reading a whole small file into memory, bounded: a file larger than the caller's limit is
// not one it expects, and is refused before anything is read.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// The contents of the regular file `file`; nullopt when it is missing, not a regular file,
// unreadable or larger than `limit` bytes.
std::optional<std::string> ReadFileContents(const std::filesystem::path& file, std::uint64_t limit);
