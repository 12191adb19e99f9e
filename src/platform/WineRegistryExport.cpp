#include "platform/WineRegistryExport.h"

#include <cstdio>
#include <vector>

namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool StartsWithFolded(std::u16string_view text, std::u16string_view start) {
    if (text.size() < start.size()) return false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; };
        if (fold(text[i]) != fold(start[i])) return false;
    }
    return true;
}

// A quoted text from `pos` (just past the opening quote) to the closing quote, consumed.
bool ReadQuoted(std::u16string_view line, std::size_t& pos, std::u16string& out) {
    while (pos < line.size()) {
        char16_t c = line[pos++];
        if (c == u'"') return true;
        if (c == u'\\' && pos < line.size()) {
            c = line[pos++];
            if (c == u'n') c = u'\n';
            if (c == u'r') c = u'\r';
            if (c == u'0') c = u'\0';
        }
        out += c;
    }
    return false;
}

std::u16string Widen(const char* ascii) {
    std::u16string out;
    for (; *ascii; ++ascii) out += static_cast<char16_t>(*ascii);
    return out;
}

std::u16string KeyHeader(std::u16string_view rootName, std::u16string_view path, bool deleting) {
    std::u16string out = deleting ? u"[-" : u"[";
    out.append(rootName);
    if (!path.empty()) {
        out += u'\\';
        out.append(path);
    }
    out += u"]\r\n";
    return out;
}

std::u16string QuotedName(std::u16string_view name) {
    if (name.empty()) return u"@";
    std::u16string out = u"\"";
    for (const char16_t c : name) {
        if (c == u'\\' || c == u'"') out += u'\\';
        out += c;
    }
    return out + u"\"";
}

}  // namespace

bool ReadRegistryExport(std::string_view bytes, std::u16string_view rootName,
                        WineRegistryFile& into, std::int64_t unixTime) {
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE || bytes.size() % 2 != 0)
        return false;
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    std::vector<std::u16string_view> lines;
    std::u16string_view rest(text);
    while (!rest.empty()) {
        const std::size_t end = rest.find(u'\n');
        std::u16string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::u16string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    std::size_t i = 0;
    while (i < lines.size() && lines[i].empty()) ++i;
    if (i >= lines.size() || lines[i] != kHeader) return false;

    bool inKey = false;
    std::u16string path;
    for (++i; i < lines.size(); ++i) {
        std::u16string_view line = lines[i];
        if (line.empty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            if (line.back() != u']') return false;
            const std::u16string_view inner = line.substr(1, line.size() - 2);
            if (!StartsWithFolded(inner, rootName)) return false;
            if (inner.size() > rootName.size() && inner[rootName.size()] != u'\\') return false;
            path.assign(inner.substr(std::min(inner.size(), rootName.size() + 1)));
            into.CreateKey(path, unixTime);
            inKey = true;
            continue;
        }
        if (!inKey || (line.front() != u'"' && line.front() != u'@')) return false;
        std::u16string name;
        std::size_t pos = 1;
        if (line.front() == u'"' && !ReadQuoted(line, pos, name)) return false;
        if (pos >= line.size() || line[pos] != u'=') return false;
        std::u16string data(line.substr(pos + 1));
        // Long binary data continues over lines that end in a back-slash.
        while (!data.empty() && data.back() == u'\\' && i + 1 < lines.size()) {
            data.pop_back();
            data.append(lines[++i]);
        }
        if (!data.empty() && data.front() == u'"') {
            std::u16string value;
            std::size_t at = 1;
            if (!ReadQuoted(data, at, value)) return false;
            into.SetText(path, name, value, true, unixTime);
        } else if (data.rfind(u"dword:", 0) == 0 && data.size() == 14) {
            std::uint32_t number = 0;
            for (std::size_t d = 6; d < data.size(); ++d) {
                if (HexDigit(data[d]) < 0) return false;
                number = number * 16 + static_cast<std::uint32_t>(HexDigit(data[d]));
            }
            into.SetDword(path, name, number, unixTime);
        } else if (data.rfind(u"hex(1):", 0) == 0) {
            std::string raw;
            for (std::size_t d = 7; d < data.size();) {
                if (data[d] == u',' || data[d] == u' ') {
                    ++d;
                    continue;
                }
                if (d + 1 >= data.size() || HexDigit(data[d]) < 0 || HexDigit(data[d + 1]) < 0)
                    return false;
                raw += static_cast<char>(HexDigit(data[d]) * 16 + HexDigit(data[d + 1]));
                d += 2;
            }
            std::u16string value;
            for (std::size_t b = 0; b + 1 < raw.size(); b += 2) {
                value += static_cast<char16_t>(static_cast<unsigned char>(raw[b]) |
                                               (static_cast<unsigned char>(raw[b + 1]) << 8));
            }
            const bool terminated = !value.empty() && value.back() == u'\0';
            if (terminated) value.pop_back();
            into.SetText(path, name, value, terminated, unixTime);
        } else {
            into.SetOther(path, name, unixTime);
        }
    }
    return true;
}

std::u16string ImportKeyLine(std::u16string_view rootName, std::u16string_view path,
                             bool deleting) {
    return KeyHeader(rootName, path, deleting) + u"\r\n";
}

std::u16string ImportTextLine(std::u16string_view rootName, std::u16string_view path,
                              std::u16string_view name, std::u16string_view text, bool terminated) {
    std::u16string line = KeyHeader(rootName, path, false) + QuotedName(name) + u"=hex(1):";
    std::u16string units(text);
    if (terminated) units += u'\0';
    for (std::size_t i = 0; i < units.size(); ++i) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%s%02x,%02x", i == 0 ? "" : ",",
                      static_cast<unsigned>(units[i] & 0xFF), static_cast<unsigned>(units[i] >> 8));
        line += Widen(pair);
    }
    return line + u"\r\n\r\n";
}

std::u16string ImportDwordLine(std::u16string_view rootName, std::u16string_view path,
                               std::u16string_view name, std::uint32_t value) {
    char data[24];
    std::snprintf(data, sizeof data, "=dword:%08x\r\n\r\n", static_cast<unsigned>(value));
    return KeyHeader(rootName, path, false) + QuotedName(name) + Widen(data);
}

std::u16string ImportDeleteValueLine(std::u16string_view rootName, std::u16string_view path,
                                     std::u16string_view name) {
    return KeyHeader(rootName, path, false) + QuotedName(name) + u"=-\r\n\r\n";
}

std::string RegistryImportBytes(std::u16string_view changes) {
    std::u16string text(kHeader);
    text += u"\r\n\r\n";
    text.append(changes);
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}
