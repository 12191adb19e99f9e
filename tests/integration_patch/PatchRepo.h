#pragma once
// Builders for patch-server trees and game directories used by the session tests.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace patchtest {

using Tree = std::map<std::string, std::string>;  // relative path ('/') -> contents

// Deterministic file contents that differ per name.
std::string Content(const std::string& name, std::size_t size = 3000);

void WriteTree(const std::filesystem::path& root, const Tree& tree);
// Every regular file below `root` with its contents, skipping `skipDirectory` if given.
Tree ReadTree(const std::filesystem::path& root, const std::string& skipDirectory = "");

// `source` compressed with bzip2 to `target` (a ".VKC" file).
void Bzip(const std::string& data, const std::filesystem::path& target);
// A zip archive of `tree` (deflated).
void Zip(const Tree& tree, const std::filesystem::path& target);

// The version list: one quoted label per line.
std::string VersionList(const std::vector<std::string>& labels);

// Five versions on an FTP server, one of every kind: per-file with subdirectories,
// compressed, absolute directories, packed, and one for the test client only. Returns the
// game tree a normal client ends with (config.ini listed with empty contents).
Tree BuildStandardRepo(const std::filesystem::path& server);

}  // namespace patchtest
