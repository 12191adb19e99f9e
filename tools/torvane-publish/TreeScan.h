#pragma once
// A game tree as the publisher sees it: every file and directory below a root, named the way
// the launcher's lists name them, with the names the launcher cannot handle already refused.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TreeEntry {
    std::string Path;  // relative, components joined with '/', spelled as on disk
    std::string Key;   // Path with ASCII letters folded to lower case: the launcher's identity
    bool IsDirectory = false;
    std::filesystem::path Source;  // the file on disk
    std::uint64_t Size = 0;
};

struct TreeScan {
    // Parents before children; within a directory, files before subdirectories, each group
    // ordered by Key then Path. Deterministic for a given tree.
    std::vector<TreeEntry> Entries;
    std::vector<std::string> Errors;  // one line per refused name
};

// Reads the tree under `root`. Names with white space, double quotes, back-slashes or control
// characters, names the launcher's path resolver refuses, names that differ from a sibling only
// by letter case, links that lead out of the tree and special files are reported in Errors.
TreeScan ScanTree(const std::filesystem::path& root);

// ASCII-only lower-casing, the launcher's way of comparing names.
std::string FoldCase(std::string_view text);

// "Data/Player/x.bmd" -> "Data\Player\x.bmd", the spelling of lists and archives' peers.
std::string ToBackslashes(std::string_view path);

// Component-wise order: parents before children, files of a directory before its
// subdirectories' contents. Used wherever the publisher lists paths.
bool TreeOrderLess(const TreeEntry& a, const TreeEntry& b);
