#pragma once
// `torvane-publish check`: reads a patch repository the way the launcher's sessions will and
// reports everything that would make a player's patch fail or go wrong.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

struct CheckOptions {
    std::filesystem::path Repository;
    std::string VersionFile = "version.wvd";
};

struct CheckReport {
    std::vector<std::string> Problems;  // each one breaks or corrupts some player's patch
    std::vector<std::string> Notes;     // worth knowing, not wrong
    std::size_t VersionsChecked = 0;
};

CheckReport CheckRepository(const CheckOptions& options);
