#pragma once
// "list.inf", the list of one patch: read whole, scanned for its flags and limits only, or
// walked item by item (a per-file list of thousands of files need never be held).
//
// Keys (#COMPRESSED#, #NEWTOOLVERSION#, #PACKINGVERSION#, #TEST_SERVER#, any case) may stand
// anywhere. Without PACKINGVERSION the list is per-file: a number followed by a name switches
// the current subdirectory, every other name is a file of it. With PACKINGVERSION every name
// is a file of "up_list.zip", '@' name deletes that file and '@' number name removes that
// (empty) directory. Other tokens are ignored in both forms.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/TokenReader.h"

struct PatchListFlags {
    bool Compressed = false;
    bool NewToolVersion = false;
    bool PackingVersion = false;
    bool TestServer = false;
};

struct PatchListItem {
    enum class Kind {
        Subdirectory,     // per-file list: Name becomes the current subdirectory
        File,             // per-file: a file of Subdirectory; packed: a file of the archive
        DeleteFile,       // packed: delete Name (relative to the game directory)
        DeleteDirectory,  // packed: remove the directory Name if it is empty
    };
    Kind What = Kind::File;
    std::string Name;          // as written in the list (back-slashes)
    std::string Subdirectory;  // File in a per-file list: the subdirectory in force ("" = root)
    // The name was longer than the token reader holds; it must not be used.
    bool Truncated = false;
};

struct PatchList {
    PatchListFlags Flags;
    std::vector<PatchListItem> Items;  // in file order, read as the flags say
    // The same list read as a packed list whatever its flags: the HTTP session treats every
    // patch as packed, and the deletions are taken from here.
    std::vector<PatchListItem> PackedItems;

    // The list holds more than a patch can carry (see kMaxFilesPerDirectory, kMaxItems); its
    // reading stopped there and callers refuse it.
    bool TooLarge = false;
    // A name was cut, also one a scan (ScanPatchList) passed over without keeping it.
    bool TruncatedName = false;

    // A remote directory lists at most 999 files, so a per-file list never needs more between
    // two subdirectory switches; a zip archive holds at most 65535 entries. Lists beyond
    // these are refused rather than held (a 16 MiB list of one-letter names would otherwise
    // take hundreds of megabytes).
    static constexpr std::size_t kMaxFilesPerDirectory = 999;
    static constexpr std::size_t kMaxItems = 65535;

    // True when any item's name was cut (callers refuse such a list).
    bool HasTruncatedName() const;
    // Neither cut names nor too many items.
    bool IsUsable() const { return !TooLarge && !HasTruncatedName(); }
};

// The list's flags and items; nullopt when the file cannot be read.
std::optional<PatchList> ReadPatchList(const std::filesystem::path& file);
PatchList ParsePatchList(std::string text);
// The list read as ReadPatchList reads it, keeping no items: its flags and whether it is
// usable, for a caller that then walks it with PerFileListReader.
std::optional<PatchList> ScanPatchList(const std::filesystem::path& file);

// A per-file list's items one at a time, exactly as the per-file reading of ReadPatchList
// gives them, from a token reader opened on the list.
class PerFileListReader {
public:
    explicit PerFileListReader(CTokenReader& reader) : reader_(reader) {}

    // The next item; false at the end of the list, when it could not be read (the token
    // reader's ReadFailed) or when it holds more than a patch can carry (TooLarge).
    bool Next(PatchListItem& item);
    bool TooLarge() const { return tooLarge_; }

private:
    CTokenReader& reader_;
    std::string subdirectory_;
    std::size_t items_ = 0;
    std::size_t filesHere_ = 0;
    bool tooLarge_ = false;
};
