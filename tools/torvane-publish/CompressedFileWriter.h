#pragma once
// Writes a launcher ".VKC" file: the whole source as one bzip2 stream, nothing before or
// after it.

#include <filesystem>

// Compresses `source` into `target` (created or replaced). False on any failure; a partial
// target is removed.
bool WriteCompressedFile(const std::filesystem::path& source, const std::filesystem::path& target);
