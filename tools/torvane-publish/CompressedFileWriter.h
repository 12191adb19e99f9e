#pragma once
// Writes a launcher ".VKC" file: the whole source as one bzip2 stream, nothing before or
// after it.

#include <filesystem>

// Compresses `source` into `target` (created or replaced whole, through a DownloadSink that is
// not flushed: the caller flushes the directory). False on any failure, target untouched.
bool WriteCompressedFile(const std::filesystem::path& source, const std::filesystem::path& target);
