#pragma once
// The text of a patch's "list.inf", written so that the launcher's token reader reads back
// exactly what is meant: every name quoted (names may begin with a digit), a blank after
// every number (the reader swallows the character that ends a number), keys between number
// signs.

#include <string>
#include <vector>

struct PackedListContent {
    bool TestServer = false;
    std::vector<std::string> Files;               // archive members, '\' separators
    std::vector<std::string> DeletedFiles;        // '\' separators
    std::vector<std::string> DeletedDirectories;  // children before parents
};

struct PerFileDirectory {
    std::string Path;                // '\' separators; empty for the patch's root
    std::vector<std::string> Files;  // bare names as listed (with ".VKC" when compressed)
};

struct PerFileListContent {
    bool TestServer = false;
    bool Compressed = false;
    bool AbsoluteDirectories = false;
    // Root first, then every directory after its parent; each switch makes one level.
    std::vector<PerFileDirectory> Directories;
};

std::string WritePackedList(const std::string& label, const PackedListContent& content);
std::string WritePerFileList(const std::string& label, const PerFileListContent& content);
