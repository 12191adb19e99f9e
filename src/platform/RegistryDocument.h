#pragma once
// One root's registry keys as held in a registry-export text file:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Varnok\KA\Config]
//   "ID"="player"
//   "WindowMode"=dword:00000000
//
// Strings escape '\' and '"' with a back-slash; a string holding a line break is written in
// its byte form, "hex(1):" with its bytes and a final 00, and read back as a string. "@"
// names a key's default value. Values of
// other types (hex:..., possibly continued over lines ending in '\') are kept as written so a
// rewrite does not lose them. Key and value names match without regard to ASCII case.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class RegistryDocument {
public:
    enum class ValueType { String, Dword, Other };
    struct Value {
        std::string Name;  // "" for the default value "@"
        ValueType Type = ValueType::String;
        std::string Text;          // String
        std::uint32_t Number = 0;  // Dword
        std::string Raw;           // Other: everything after '=' as written
    };
    struct Key {
        std::string Path;  // below the root, back-slash separated, no leading '\'
        std::vector<Value> Values;
    };

    explicit RegistryDocument(std::string rootName) : rootName_(std::move(rootName)) {}

    // Replaces the contents with the parsed file; false when it is not a registry export of
    // this root (the document is then unchanged).
    bool Parse(std::string_view bytes);
    std::string Serialize() const;

    // True when the key or any key below it is present (parents need no line of their own).
    bool HasKey(std::string_view path) const;
    const Value* FindValue(std::string_view path, std::string_view name) const;

    // Adds the key and its missing parents; true when the key itself was new.
    bool CreateKey(std::string_view path);
    bool DeleteKey(std::string_view path);  // with every key below it
    void SetValue(std::string_view path, Value value);
    bool DeleteValue(std::string_view path, std::string_view name);

    // Back-slash separated, empty components dropped: "\A\\B\" is "A\B".
    static std::string NormalizePath(std::string_view path);

private:
    Key* FindKey(std::string_view path);
    const Key* FindKey(std::string_view path) const;

    std::string rootName_;
    std::vector<Key> keys_;
};
