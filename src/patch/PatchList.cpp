#include "patch/PatchList.h"

#include <functional>
#include <utility>

#include "patch/TokenReader.h"
#include "platform/AsciiText.h"

namespace {

// `open` (re)starts the reader at the list's first byte; each pass reads the list anew, so a
// list in a file is never held whole. Nullopt when the list cannot be read to its end.
std::optional<PatchList> Parse(CTokenReader& reader,
                               const std::function<bool(CTokenReader&)>& open) {
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
    std::string subdirectory;
    const auto add = [&](std::vector<PatchListItem>& items, PatchListItem::Kind what,
                         const std::string& sub) {
        PatchListItem item;
        item.What = what;
        item.Name = reader.TokenText();
        item.Subdirectory = sub;
        item.Truncated = reader.TokenTruncated();
        items.push_back(std::move(item));
    };

    const auto tooLarge = [&](const std::vector<PatchListItem>& items) {
        if (items.size() < PatchList::kMaxItems) return false;
        list.TooLarge = true;
        return true;
    };

    if (!list.Flags.PackingVersion) {
        std::size_t filesHere = 0;
        for (TokenKind kind; (kind = reader.ReadToken()) != TokenEnd && !tooLarge(list.Items);) {
            if (kind == TokenNumber) {
                // Whatever follows the number is the new subdirectory, as the sessions read it.
                if (reader.ReadToken() == TokenEnd) break;
                subdirectory = reader.TokenText();
                add(list.Items, PatchListItem::Kind::Subdirectory, "");
                filesHere = 0;
            } else if (kind == TokenName) {
                if (++filesHere > PatchList::kMaxFilesPerDirectory) {
                    list.TooLarge = true;
                    break;
                }
                add(list.Items, PatchListItem::Kind::File, subdirectory);
            }
        }
        if (list.TooLarge) {
            list.Items.clear();
            reader.CloseTokenFile();
            return list;
        }
        if (reader.ReadFailed() || !open(reader)) return std::nullopt;
    }
    for (TokenKind kind; (kind = reader.ReadToken()) != TokenEnd && !tooLarge(list.PackedItems);) {
        if (kind == TokenName) {
            add(list.PackedItems, PatchListItem::Kind::File, "");
        } else if (kind == TokenDelete) {
            kind = reader.ReadToken();
            if (kind == TokenName) {
                add(list.PackedItems, PatchListItem::Kind::DeleteFile, "");
            } else if (kind == TokenNumber) {
                if (reader.ReadToken() == TokenName) {
                    add(list.PackedItems, PatchListItem::Kind::DeleteDirectory, "");
                }
            }
        }
    }
    if (reader.ReadFailed()) return std::nullopt;
    if (list.TooLarge) list.PackedItems.clear();
    if (list.Flags.PackingVersion) list.Items = list.PackedItems;
    reader.CloseTokenFile();
    return list;
}

}  // namespace

bool PatchList::HasTruncatedName() const {
    for (const auto* items : {&Items, &PackedItems}) {
        for (const PatchListItem& item : *items) {
            if (item.Truncated) return true;
        }
    }
    return false;
}

PatchList ParsePatchList(std::string text) {
    CTokenReader reader;
    return *Parse(reader, [&text](CTokenReader& r) {
        r.OpenTokenText(text);
        return true;
    });
}

std::optional<PatchList> ReadPatchList(const std::filesystem::path& file) {
    CTokenReader reader;
    return Parse(reader, [&file](CTokenReader& r) { return r.OpenTokenFile(file); });
}
