#pragma once
// Restores a compressed data file (one bzip2 stream holding the whole file, nothing before or
// after it) beside the destination directory. Runs on the GUI thread: after each unit of work
// it pumps one pending event through `PumpOneEvent`, so handlers run re-entrantly inside the
// call; `StopRequested` is the only thing it reads back from them.

#include <cstdint>
#include <functional>
#include <string>

struct UnpackControl {
    // Called once with the compressed file's size.
    std::function<void(std::uint64_t total)> SetProgressTotal;
    // Called after each input chunk with the compressed bytes consumed so far.
    std::function<void(std::uint64_t done)> SetProgressDone;
    // Dispatches at most one pending event.
    std::function<void()> PumpOneEvent;
    // True once the user asked to stop the transfer.
    std::function<bool()> StopRequested;
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
