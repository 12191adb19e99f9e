#include "platform/RegistryDocument.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/AsciiText.h"

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";

bool IsBelow(std::string_view path, std::string_view ancestor) {
    return path.size() > ancestor.size() && path[ancestor.size()] == '\\' &&
           EqualsIgnoringAsciiCase(path.substr(0, ancestor.size()), ancestor);
}

std::string_view TrimBlanks(std::string_view text) {
    return TrimAscii(text, " \t\r");
}

std::vector<std::string_view> SplitLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

// Reads a quoted, escaped text at the start of `text`; advances past the closing quote.
std::optional<std::string> ReadQuoted(std::string_view& text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out += text[++i];
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::optional<std::uint32_t> ParseDword(std::string_view hex) {
    if (hex.empty() || hex.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    if (ec != std::errc() || end != hex.data() + hex.size()) return std::nullopt;
    return value;
}

// A text that the quoted form cannot carry on one line.
bool NeedsHexForm(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// "hex(1):" followed by the text's bytes and the terminating NUL, as a REG_SZ is exported
// when its bytes are written out one by one.
std::string HexString(std::string_view text) {
    std::string out = "hex(1):";
    char hex[4];
    for (const char c : text) {
        std::snprintf(hex, sizeof hex, "%02x,", static_cast<unsigned char>(c));
        out += hex;
    }
    return out + "00";
}

// The bytes of "hex(1):..." without the terminating NUL; nullopt when it is not that form.
std::optional<std::string> ParseHexString(std::string_view data) {
    if (data.size() < 7 || !EqualsIgnoringAsciiCase(data.substr(0, 7), "hex(1):"))
        return std::nullopt;
    data.remove_prefix(7);
    std::string bytes;
    while (!data.empty()) {
        const std::size_t comma = data.find(',');
        const std::string_view item = TrimBlanks(data.substr(0, comma));
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value, 16);
        if (item.empty() || item.size() > 2 || ec != std::errc() ||
            end != item.data() + item.size())
            return std::nullopt;
        bytes.push_back(static_cast<char>(value));
        if (comma == std::string_view::npos) break;
        data.remove_prefix(comma + 1);
    }
    if (bytes.empty() || bytes.back() != '\0') return std::nullopt;
    bytes.pop_back();
    if (bytes.find('\0') != std::string::npos) return std::nullopt;
    return bytes;
}

// One "name"=data line (continuations already joined); nullopt when it is not one.
std::optional<RegistryDocument::Value> ParseValue(std::string_view line) {
    RegistryDocument::Value value;
    if (!line.empty() && line.front() == '@') {
        line.remove_prefix(1);
    } else {
        auto name = ReadQuoted(line);
        if (!name) return std::nullopt;
        value.Name = std::move(*name);
    }
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '=') return std::nullopt;
    line = TrimBlanks(line.substr(1));
    if (!line.empty() && line.front() == '"') {
        auto text = ReadQuoted(line);
        if (!text || !TrimBlanks(line).empty()) return std::nullopt;
        value.Type = RegistryDocument::ValueType::String;
        value.Text = std::move(*text);
        return value;
    }
    if (line.size() > 6 && EqualsIgnoringAsciiCase(line.substr(0, 6), "dword:")) {
        const auto number = ParseDword(line.substr(6));
        if (!number) return std::nullopt;
        value.Type = RegistryDocument::ValueType::Dword;
        value.Number = *number;
        return value;
    }
    if (auto text = ParseHexString(line)) {
        value.Type = RegistryDocument::ValueType::String;
        value.Text = std::move(*text);
        return value;
    }
    // hex:..., hex(2):... and the like; "-" (a deletion request) is not stored data.
    if (line.size() < 4 || !EqualsIgnoringAsciiCase(line.substr(0, 3), "hex")) return std::nullopt;
    value.Type = RegistryDocument::ValueType::Other;
    value.Raw = std::string(line);
    return value;
}

}  // namespace

std::string RegistryDocument::NormalizePath(std::string_view path) {
    std::string out;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) {
            if (!out.empty()) out += '\\';
            out += path.substr(pos, end - pos);
        }
        pos = end + 1;
    }
    return out;
}

bool RegistryDocument::Parse(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    const std::vector<std::string_view> lines = SplitLines(bytes);
    std::vector<Key> keys;
    bool headerSeen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = TrimBlanks(lines[i]);
        if (line.empty() || line.front() == ';') continue;
        if (!headerSeen) {
            if (line != kHeader && line != kOldHeader) return false;
            headerSeen = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') return false;
            const std::string_view full = line.substr(1, line.size() - 2);
            // "[-key]" asks an importer to delete; it is not stored state.
            if (!EqualsIgnoringAsciiCase(full.substr(0, rootName_.size()), rootName_)) return false;
            const std::string_view rest = full.substr(rootName_.size());
            if (!rest.empty() && rest.front() != '\\') return false;
            keys.push_back(Key{NormalizePath(rest), {}});
            continue;
        }
        if (keys.empty()) return false;
        std::string joined(line);
        while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
            joined.pop_back();
            joined += TrimBlanks(lines[++i]);
        }
        while (!joined.empty() && joined.back() == '\\') joined.pop_back();  // nothing follows
        auto value = ParseValue(joined);
        if (!value) return false;
        keys.back().Values.push_back(std::move(*value));
    }
    keys_ = std::move(keys);
    return true;
}

std::string RegistryDocument::Serialize() const {
    std::string out(kHeader);
    out += "\n\n";
    for (const Key& key : keys_) {
        out += "[" + rootName_ + (key.Path.empty() ? "" : "\\" + key.Path) + "]\n";
        for (const Value& value : key.Values) {
            out += value.Name.empty() ? std::string("@") : Quote(value.Name);
            out += '=';
            switch (value.Type) {
                case ValueType::String:
                    out += NeedsHexForm(value.Text) ? HexString(value.Text) : Quote(value.Text);
                    break;
                case ValueType::Dword: {
                    char hex[16];
                    std::snprintf(hex, sizeof hex, "dword:%08x", value.Number);
                    out += hex;
                    break;
                }
                case ValueType::Other:
                    out += value.Raw;
                    break;
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

RegistryDocument::Key* RegistryDocument::FindKey(std::string_view path) {
    const std::string wanted = NormalizePath(path);
    for (Key& key : keys_) {
        if (EqualsIgnoringAsciiCase(key.Path, wanted)) return &key;
    }
    return nullptr;
}

const RegistryDocument::Key* RegistryDocument::FindKey(std::string_view path) const {
    return const_cast<RegistryDocument*>(this)->FindKey(path);
}

bool RegistryDocument::HasKey(std::string_view path) const {
    const std::string wanted = NormalizePath(path);
    if (wanted.empty()) return true;
    return std::any_of(keys_.begin(), keys_.end(), [&](const Key& key) {
        return EqualsIgnoringAsciiCase(key.Path, wanted) || IsBelow(key.Path, wanted);
    });
}

const RegistryDocument::Value* RegistryDocument::FindValue(std::string_view path,
                                                           std::string_view name) const {
    const Key* key = FindKey(path);
    if (!key) return nullptr;
    for (const Value& value : key->Values) {
        if (EqualsIgnoringAsciiCase(value.Name, name)) return &value;
    }
    return nullptr;
}

bool RegistryDocument::CreateKey(std::string_view path) {
    const std::string wanted = NormalizePath(path);
    const bool existed = HasKey(wanted);
    // Every ancestor gets its own line, as an export of the real thing would have.
    std::size_t pos = 0;
    while (true) {
        const std::size_t end = wanted.find('\\', pos);
        const std::string prefix = wanted.substr(0, end);
        if (!prefix.empty() && !FindKey(prefix)) keys_.push_back(Key{prefix, {}});
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return !existed;
}

bool RegistryDocument::DeleteKey(std::string_view path) {
    const std::string wanted = NormalizePath(path);
    if (wanted.empty() || !HasKey(wanted)) return false;
    std::erase_if(keys_, [&](const Key& key) {
        return EqualsIgnoringAsciiCase(key.Path, wanted) || IsBelow(key.Path, wanted);
    });
    return true;
}

void RegistryDocument::SetValue(std::string_view path, Value value) {
    CreateKey(path);
    Key* key = FindKey(path);
    if (!key) {  // the root itself
        keys_.insert(keys_.begin(), Key{"", {}});
        key = &keys_.front();
    }
    for (Value& existing : key->Values) {
        if (EqualsIgnoringAsciiCase(existing.Name, value.Name)) {
            value.Name = existing.Name;
            existing = std::move(value);
            return;
        }
    }
    key->Values.push_back(std::move(value));
}

bool RegistryDocument::DeleteValue(std::string_view path, std::string_view name) {
    Key* key = FindKey(path);
    if (!key) return false;
    return std::erase_if(key->Values,
                         [&](const Value& v) { return EqualsIgnoringAsciiCase(v.Name, name); }) > 0;
}
