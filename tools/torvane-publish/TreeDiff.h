#pragma once
// What changed between two game trees, in the launcher's terms: names are compared without
// regard to letter case, contents byte by byte.

#include <optional>
#include <string>
#include <vector>

#include "TreeScan.h"

struct TreeDiff {
    std::vector<TreeEntry> Published;       // files new in NEW or with other contents, tree order
    std::vector<TreeEntry> NewDirectories;  // directories of NEW that OLD lacks, tree order
    std::vector<TreeEntry> RemovedFiles;    // files of OLD that NEW lacks, tree order
    // Directories of OLD that NEW lacks, children before parents (the order they can go in).
    std::vector<TreeEntry> RemovedDirectories;
    // A file of OLD that NEW has as a directory, or the reverse.
    std::vector<std::string> KindChanges;
    std::vector<std::string> Errors;  // files that could not be read
};

// `oldTree` absent means a first version: everything in `newTree` is new.
TreeDiff DiffTrees(const std::optional<TreeScan>& oldTree, const TreeScan& newTree);

// True when the two files hold the same bytes; nullopt when either cannot be read.
std::optional<bool> SameContents(const std::filesystem::path& a, const std::filesystem::path& b);
