#pragma once
// Writes "up_list.zip", the one archive of a packed patch: deflated entries in the order given,
// each stamped with its source file's modification time, so the same inputs give the same
// bytes.

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

struct ArchiveMember {
    std::string Name;              // as stored: components joined with '/'
    std::filesystem::path Source;  // read from here, unless Contents is used
    bool FromContents = false;
    std::string Contents;
    std::time_t ModificationTime = 0;
    // Execute bits (of 0111) to keep: stored as a Unix mode, which the launcher restores.
    unsigned ExecuteBits = 0;
};

// Creates `target` holding `members`. On failure returns false with a message in `error` and
// leaves no file behind.
bool WritePackedArchive(const std::filesystem::path& target,
                        const std::vector<ArchiveMember>& members, std::string& error);

// The file's modification time as a time_t (what the archive's MS-DOS time is made from).
std::time_t FileModificationTime(const std::filesystem::path& file);

// The file's execute permission bits (0 for none, or when it cannot be read).
unsigned FileExecuteBits(const std::filesystem::path& file);
