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
//
// A component that is not there under its own spelling costs a reading of its directory. The
// names read are kept (with the directory's modification stamp, so a change by anyone else
// means reading again) and writers add what they create through NoteCreated: a patch that
// writes thousands of new files into one directory reads that directory once, not once a file.

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

class GamePath {
public:
    explicit GamePath(std::filesystem::path root);

    const std::filesystem::path& Root() const { return root_; }

    // The real path for `gameName`, or nullopt when the name is unsafe.
    std::optional<std::filesystem::path> Resolve(std::string_view gameName) const;

    // True when `gameName` would be accepted by Resolve (no disk access).
    static bool IsSafe(std::string_view gameName);

    // Tells the resolver that `created` (a path it gave, or a directory on the way to one) now
    // exists, so later lookups in the same directory find it without reading the directory.
    void NoteCreated(const std::filesystem::path& created) const;

    // Tells the resolver that `removed` (a path it gave) is gone, so the next lookup in its
    // directory need not read the directory again.
    void NoteRemoved(const std::filesystem::path& removed) const;

    // Drops what is known of the names in `directory` (a path Resolve gave): a writer done
    // with a directory keeps the resolver's memory to what it still works on. A later lookup
    // there reads the directory again.
    void ForgetListing(const std::filesystem::path& directory) const;

    // Makes `directory` (a path Resolve gave) with its missing parents and notes every level
    // below the root as created. False (errno-style code in `error`) when it could not be made.
    bool CreateDirectories(const std::filesystem::path& directory, std::error_code& error) const;

private:
    class Listings;
    // The case-insensitive match of `part` in `directory`, or an empty path.
    std::filesystem::path FindSpelling(const std::filesystem::path& directory,
                                       std::string_view part) const;

    std::filesystem::path root_;
    std::shared_ptr<Listings> listings_;  // shared by copies; thread-safe
};
