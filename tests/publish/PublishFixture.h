#pragma once
// Shared by the publisher's tests: game trees written on the fly, the published repository
// read back with the launcher's own list reader and the archive opened with libzip.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Publisher.h"
#include "support/TestSupport.h"

namespace publishtest {

// path ('/' separated) -> contents; a path ending in '/' is an (empty) directory.
using Tree = std::map<std::string, std::string>;

// Writes `tree` under `root` with every file's time fixed, so that archives are reproducible.
void MakeTree(const std::filesystem::path& root, const Tree& tree);

// Every member of a zip archive, name -> contents.
std::map<std::string, std::string> ReadZip(const std::filesystem::path& archive);

// Restores a single-stream bzip2 file.
std::optional<std::string> Bunzip(const std::filesystem::path& file);

PublishOptions Options(const std::filesystem::path& repo, const std::string& label,
                       const std::filesystem::path& to, PatchMode mode);

// Everything below `dir` (files and directories), relative, sorted: to show nothing was written.
std::vector<std::string> Listing(const std::filesystem::path& dir);

}  // namespace publishtest
