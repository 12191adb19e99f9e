#pragma once
// Replacing a user's file so that a crash leaves either the old or the new one, never half:
// written beside it through a DownloadSink, flushed to disk, committed over it, and the
// directory flushed so the new name itself survives a power cut.

#include <filesystem>
#include <string_view>

// Writes `contents` to `target` atomically. False (target untouched) on any failure.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view contents);

// Whether a replacement reaches the disk before the call returns (Now), or is left to one
// SyncFileSystemOf for a whole batch of them (Later: a crash before that flush may leave the
// target empty or old, so the caller must be able to redo the batch until it has flushed).
enum class FlushMode { Now, Later };

// Copies `source` over `target` atomically (the copy keeps `source`'s permissions bits).
// False with errno set on failure, the target untouched.
bool CopyFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target,
                        FlushMode flush = FlushMode::Now);

// A temporary name beside `target` that no other writer uses.
std::filesystem::path TemporarySibling(const std::filesystem::path& target);

// Flushes everything written on the file system that holds `path` (data and renames alike),
// for a batch of files replaced without a flush of their own. False (errno set) on failure.
bool SyncFileSystemOf(const std::filesystem::path& path);

// Starts writing the data of the file open as `fd` to disk without waiting for it, so that a
// later SyncFileSystemOf finds little left to do. Only a hint: nothing is reported.
void StartWriteBack(int fd);
