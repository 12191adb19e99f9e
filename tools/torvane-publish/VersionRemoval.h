#pragma once
// `torvane-publish remove`: withdraws the newest version of a repository, which no player may
// have installed yet. Older versions stay: players have installed them, and a later version
// only carries what changed since.

#include <filesystem>
#include <string>

struct RemoveResult {
    bool Removed = false;
    std::string Error;  // why nothing was changed
};

// Takes `label` off the end of the version list (written atomically, so launchers stop seeing
// it at once), then deletes its directory.
RemoveResult RemoveNewestVersion(const std::filesystem::path& repository, const std::string& label,
                                 const std::string& versionFile);
