#pragma once
// The one resolver from a path as the game's data spells it ("Temp\Data\Player\x.bmd") to a
// file under the game directory. Every name that arrives from the network, a list file or an
// archive goes through here before anything is read, written or deleted.
//
// Separators may be '\' or '/'. Each component is matched against what exists on disk
// without regard to ASCII letter case (the game's names were written for a case-insensitive
// file system); components that do not exist yet keep the spelling given. Refused: "..",
// absolute paths, drive letters ("C:"), empty components ("a\\b", trailing separator), NUL
// bytes and a lone ".".

#include <filesystem>
#include <optional>
#include <string_view>

class GamePath {
public:
    explicit GamePath(std::filesystem::path root);

    const std::filesystem::path& Root() const { return root_; }

    // The real path for `designPath`, or nullopt when the name is unsafe.
    std::optional<std::filesystem::path> Resolve(std::string_view designPath) const;

    // True when `designPath` would be accepted by Resolve (no disk access).
    static bool IsSafe(std::string_view designPath);

private:
    std::filesystem::path root_;
};
