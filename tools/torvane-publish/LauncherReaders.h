#pragma once
// The repository's files as the launcher reads them, through the launcher's own readers (the
// zip reader for packed archives, the restorer's rules for compressed files), and a "list.inf"
// laid out the way each session walks it. What these say is what a player's launcher sees.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ListedDirectory {
    std::string Path;  // as listed, '\' separators; empty for the patch's root
    std::vector<std::string> Files;
};

struct PatchListView {
    bool Compressed = false;
    bool NewToolVersion = false;
    bool PackingVersion = false;
    bool TestServer = false;
    // Per-file reading: the root, then one entry per directory switch, in list order.
    std::vector<ListedDirectory> Directories;
    // Packed reading.
    std::vector<std::string> PackedFiles;
    std::vector<std::string> DeletedFiles;
    std::vector<std::string> DeletedDirectories;
};

struct ArchiveEntryView {
    std::string Name;  // as stored
    std::uint64_t Size = 0;
    bool IsDirectory = false;
};

struct ArchiveView {
    std::vector<ArchiveEntryView> Entries;
    std::optional<std::string> ConfigIni;  // contents of the root "config.ini", any letter case
};

// Opens the archive and reads every entry to its end (so every CRC is checked). nullopt with
// the reason in `error` when the launcher's reader would fail on it.
std::optional<ArchiveView> ReadPatchArchive(const std::filesystem::path& file, std::string& error);

// True when `file` is exactly one complete bzip2 stream (what the launcher restores);
// otherwise false with the reason.
bool IsCompleteCompressedFile(const std::filesystem::path& file, std::string& error);
