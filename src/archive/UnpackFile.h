#pragma once
// Restores a compressed data file (one bzip2 stream holding the whole file, nothing before or
// after it) beside the destination directory. Runs on the GUI thread: after each unit of work
// it pumps one pending event through `PumpOneEvent`, so handlers run re-entrantly inside the
// call; whether `Watcher` was cancelled is the only thing it reads back from them.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Progress.h"

class DownloadSink;

struct UnpackControl {
    // Compressed bytes consumed of the compressed file's size, after each input chunk (and
    // the whole size at the end); cancelling it stops the restore. May be null.
    Progress* Watcher = nullptr;
    // Dispatches at most one pending event.
    std::function<void()> PumpOneEvent;
};

inline constexpr std::size_t kUnpackInputBufferSize = 12288;
inline constexpr std::size_t kUnpackOutputBufferSize = 131072;

// Where `sourcePath` is restored: the directory part of `destinationDirectory` (everything up
// to its last separator, '/' or '\'; so a directory must end with one) followed by the source's
// file name without its last extension.
std::string UnpackedFilePath(const std::string& sourcePath,
                             const std::string& destinationDirectory);

// 1 when the file was restored completely, 0 otherwise. Only a stop deletes the partial
// output; other failures leave it for the caller to report.
int UnpackFile(const UnpackControl& control, const std::string& sourcePath,
               const std::string& destinationDirectory);

// Restores `sourcePath` into `sink`, which the caller opened (and later commits, with whatever
// validators it added seeing the restored bytes as they are produced). 1 when the stream was
// restored completely and every byte was taken, 0 otherwise (the sink is then abandoned).
int UnpackFileTo(const UnpackControl& control, const std::string& sourcePath, DownloadSink& sink);
