#pragma once
// One of the text files a Wine prefix keeps its registry in while no Wine server runs
// (system.reg holds HKEY_LOCAL_MACHINE, user.reg HKEY_CURRENT_USER):
//
//   WINE REGISTRY Version 2
//   ;; All keys relative to REGISTRY\\Machine
//
//   [Software\\Varnok\\Ka\\Connection] 1796721220
//   #time=1dd86f46a9a9074
//   "Key"=dword:0001e240
//   "ParameterA"=hex(1):48,00,69,00
//
// Key and value names and texts escape '\' and '"' with a back-slash and write characters
// outside printable ASCII as \xHHHH (C escapes and octal are read as well). Only sections that
// change are written anew: every other byte of the file stays as it was, so values of kinds
// this class does not understand survive an edit.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class WineRegistryFile {
public:
    struct Value {
        enum class Kind { Text, Dword, Other };
        Kind Type = Kind::Other;
        std::u16string Text;       // Text: without a terminating zero
        std::uint32_t Number = 0;  // Dword
    };

    // Replaces the contents with the parsed file; false (contents unchanged) when the bytes
    // are not a Wine registry file or a line of it cannot be read.
    bool Parse(std::string_view bytes);
    std::string Serialize() const;

    // Paths are back-slash separated and compared without regard to ASCII case. A key is
    // present when its section or a section below it is.
    bool HasKey(std::u16string_view path) const;
    std::optional<Value> FindValue(std::u16string_view path, std::u16string_view name) const;

    // `unixTime` stamps the sections written anew (Wine keeps a modification time per key).
    // CreateKey is true when the key was new.
    bool CreateKey(std::u16string_view path, std::int64_t unixTime);
    bool DeleteKey(std::u16string_view path);  // with every key below it
    // A text is stored with its terminating zero unless `terminated` is false; then exactly
    // its characters are stored (as hex(1) data).
    void SetText(std::u16string_view path, std::u16string_view name, std::u16string_view text,
                 bool terminated, std::int64_t unixTime);
    void SetDword(std::u16string_view path, std::u16string_view name, std::uint32_t value,
                  std::int64_t unixTime);
    bool DeleteValue(std::u16string_view path, std::u16string_view name);
    // A value of a kind this class does not read (it then reads as Kind::Other).
    void SetOther(std::u16string_view path, std::u16string_view name, std::int64_t unixTime);

    // The file's escaping of a name or text (without the surrounding quotes).
    static std::string Escape(std::u16string_view text);

private:
    struct Entry {
        std::u16string Name;  // "" for the default value "@"
        bool Meta = false;    // a "#..." line of the key, kept as it is
        std::string Raw;      // the whole entry as written, continuation lines included
    };
    struct Section {
        std::u16string Path;
        std::string Raw;  // as read; used while the section is unchanged
        std::vector<Entry> Entries;
        bool Changed = false;
        std::int64_t Time = 0;
    };

    Section* FindSection(std::u16string_view path);
    const Section* FindSection(std::u16string_view path) const;
    Section& SectionFor(std::u16string_view path, std::int64_t unixTime);
    void SetEntry(std::u16string_view path, std::u16string_view name, std::string data,
                  std::int64_t unixTime);

    std::string head_;  // everything before the first section
    std::vector<Section> sections_;
};
