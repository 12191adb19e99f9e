#include "patch/PatchList.h"

#include <functional>
#include <utility>

#include "patch/TokenReader.h"
#include "platform/AsciiText.h"

namespace {

// `open` (re)starts the reader at the list's first byte; each pass reads the list anew, so a
// list in a file is never held whole. Without `keepItems` the items are counted and checked
// but not kept. Nullopt when the list cannot be read to its end.
std::optional<PatchList> Parse(CTokenReader& reader, const std::function<bool(CTokenReader&)>& open,
                               bool keepItems) {
    PatchList list;

    // Keys may stand anywhere, and PACKINGVERSION decides how the rest reads: flags first.
    if (!open(reader)) return std::nullopt;
    for (TokenKind kind; (kind = reader.ReadToken()) != TokenEnd;) {
        if (kind != TokenKey) continue;
        const std::string& key = reader.TokenText();
        if (EqualsIgnoringAsciiCase(key, "COMPRESSED")) list.Flags.Compressed = true;
        if (EqualsIgnoringAsciiCase(key, "NEWTOOLVERSION")) list.Flags.NewToolVersion = true;
        if (EqualsIgnoringAsciiCase(key, "PACKINGVERSION")) list.Flags.PackingVersion = true;
        if (EqualsIgnoringAsciiCase(key, "TEST_SERVER")) list.Flags.TestServer = true;
    }
    if (reader.ReadFailed() || !open(reader)) return std::nullopt;

    // What a list refused as too large says about cut names is what its kept items say.
    bool perFileTruncated = false;
    bool packedTruncated = false;
    if (!list.Flags.PackingVersion) {
        PerFileListReader items(reader);
        for (PatchListItem item; items.Next(item);) {
            perFileTruncated = perFileTruncated || item.Truncated;
            if (keepItems) list.Items.push_back(std::move(item));
        }
        if (items.TooLarge()) {
            list.TooLarge = true;
            list.Items.clear();
            reader.CloseTokenFile();
            return list;
        }
        if (reader.ReadFailed() || !open(reader)) return std::nullopt;
    }

    std::size_t packedItems = 0;
    const auto add = [&](PatchListItem::Kind what) {
        packedTruncated = packedTruncated || reader.TokenTruncated();
        ++packedItems;
        if (!keepItems) return;
        PatchListItem item;
        item.What = what;
        item.Name = reader.TokenText();
        item.Truncated = reader.TokenTruncated();
        list.PackedItems.push_back(std::move(item));
    };
    const auto tooLarge = [&] {
        if (packedItems < PatchList::kMaxItems) return false;
        list.TooLarge = true;
        return true;
    };
    for (TokenKind kind; (kind = reader.ReadToken()) != TokenEnd && !tooLarge();) {
        if (kind == TokenName) {
            add(PatchListItem::Kind::File);
        } else if (kind == TokenDelete) {
            kind = reader.ReadToken();
            if (kind == TokenName) {
                add(PatchListItem::Kind::DeleteFile);
            } else if (kind == TokenNumber) {
                if (reader.ReadToken() == TokenName) add(PatchListItem::Kind::DeleteDirectory);
            }
        }
    }
    if (reader.ReadFailed()) return std::nullopt;
    if (list.TooLarge) {
        list.PackedItems.clear();
        packedTruncated = false;
    }
    list.TruncatedName = perFileTruncated || packedTruncated;
    if (list.Flags.PackingVersion) list.Items = list.PackedItems;
    reader.CloseTokenFile();
    return list;
}

}  // namespace

bool PerFileListReader::Next(PatchListItem& item) {
    for (TokenKind kind; !tooLarge_ && (kind = reader_.ReadToken()) != TokenEnd;) {
        if (items_ >= PatchList::kMaxItems) {
            tooLarge_ = true;
            return false;
        }
        if (kind == TokenNumber) {
            // Whatever follows the number is the new subdirectory, as the sessions read it.
            if (reader_.ReadToken() == TokenEnd) return false;
            subdirectory_ = reader_.TokenText();
            filesHere_ = 0;
            item.What = PatchListItem::Kind::Subdirectory;
            item.Subdirectory.clear();
        } else if (kind == TokenName) {
            if (++filesHere_ > PatchList::kMaxFilesPerDirectory) {
                tooLarge_ = true;
                return false;
            }
            item.What = PatchListItem::Kind::File;
            item.Subdirectory = subdirectory_;
        } else {
            continue;
        }
        item.Name = reader_.TokenText();
        item.Truncated = reader_.TokenTruncated();
        ++items_;
        return true;
    }
    return false;
}

bool PatchList::HasTruncatedName() const {
    if (TruncatedName) return true;
    for (const auto* items : {&Items, &PackedItems}) {
        for (const PatchListItem& item : *items) {
            if (item.Truncated) return true;
        }
    }
    return false;
}

PatchList ParsePatchList(std::string text) {
    CTokenReader reader;
    return *Parse(
        reader,
        [&text](CTokenReader& r) {
            r.OpenTokenText(text);
            return true;
        },
        true);
}

std::optional<PatchList> ReadPatchList(const std::filesystem::path& file) {
    CTokenReader reader;
    return Parse(
        reader, [&file](CTokenReader& r) { return r.OpenTokenFile(file); }, true);
}

std::optional<PatchList> ScanPatchList(const std::filesystem::path& file) {
    CTokenReader reader;
    return Parse(
        reader, [&file](CTokenReader& r) { return r.OpenTokenFile(file); }, false);
}
