#pragma once
// `torvane-publish check`: reads a patch repository the way the launcher's sessions will and
// reports everything that would make a player's patch fail or go wrong.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct CheckOptions {
    std::filesystem::path Repository;
    std::string VersionFile = "version.wvd";
    // The repository is served over HTTP: a per-file version is then a problem (an HTTP
    // launcher applies packed versions only and stops at such a version on every run).
    bool Http = false;
    std::optional<std::filesystem::path> PublicKey;  // verify the index's signature with it
};

struct CheckReport {
    std::vector<std::string> Problems;  // each one breaks or corrupts some player's patch
    std::vector<std::string> Notes;     // worth knowing, not wrong
    std::size_t VersionsChecked = 0;
};

CheckReport CheckRepository(const CheckOptions& options);
