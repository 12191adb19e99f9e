#include "platform/WineRegistryFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr std::string_view kSignature = "WINE REGISTRY Version 2";
// Seconds from 1601 (where Windows file times count from) to 1970.
constexpr std::int64_t kEpochDifference = 11644473600LL;

char16_t Fold(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

// "\A\\B\" is "A\B": empty components dropped.
std::u16string NormalizePath(std::u16string_view path) {
    std::u16string out;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t end = std::min(path.find(u'\\', i), path.size());
        if (end > i) {
            if (!out.empty()) out += u'\\';
            out.append(path.substr(i, end - i));
        }
        i = end + 1;
    }
    return out;
}

// Whether `path` is `key` or lies below it.
bool AtOrBelow(std::u16string_view path, std::u16string_view key) {
    if (path.size() < key.size() || !SameText(path.substr(0, key.size()), key)) return false;
    return path.size() == key.size() || path[key.size()] == u'\\';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an escaped text from `text` at `pos` up to the unescaped `end` character, which is
// consumed. False when the text ends first.
bool Unescape(std::string_view text, std::size_t& pos, char end, std::u16string& out) {
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == end) return true;
        if (c != '\\') {
            out += static_cast<char16_t>(static_cast<unsigned char>(c));
            continue;
        }
        if (pos >= text.size()) return false;
        const char e = text[pos++];
        switch (e) {
            case 'a':
                out += u'\a';
                break;
            case 'b':
                out += u'\b';
                break;
            case 'e':
                out += u'\x1b';
                break;
            case 'f':
                out += u'\f';
                break;
            case 'n':
                out += u'\n';
                break;
            case 'r':
                out += u'\r';
                break;
            case 't':
                out += u'\t';
                break;
            case 'v':
                out += u'\v';
                break;
            case 'x': {
                unsigned value = 0;
                int digits = 0;
                while (digits < 4 && pos < text.size() && HexDigit(text[pos]) >= 0) {
                    value = value * 16 + static_cast<unsigned>(HexDigit(text[pos++]));
                    ++digits;
                }
                if (digits == 0) return false;
                out += static_cast<char16_t>(value);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned value = static_cast<unsigned>(e - '0');
                    for (int digits = 1;
                         digits < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7';
                         ++digits) {
                        value = value * 8 + static_cast<unsigned>(text[pos++] - '0');
                    }
                    out += static_cast<char16_t>(value);
                } else {
                    out += static_cast<char16_t>(static_cast<unsigned char>(e));
                }
        }
    }
    return false;
}

std::string EscapeWith(std::u16string_view text, std::string_view special) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 0x20 || c > 0x7E) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%04x", static_cast<unsigned>(c));
            out += buffer;
        } else {
            const char ascii = static_cast<char>(c);
            if (ascii == '\\' || special.find(ascii) != std::string_view::npos) out += '\\';
            out += ascii;
        }
    }
    return out;
}

// The bytes of "hex:" data ("48,00,69,00,\<newline>  00,00"); nullopt when malformed.
std::optional<std::string> HexBytes(std::string_view data) {
    std::string bytes;
    std::size_t i = 0;
    while (i < data.size()) {
        const char c = data[i];
        if (c == ',' || c == '\\' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (i + 1 >= data.size() || HexDigit(c) < 0 || HexDigit(data[i + 1]) < 0)
            return std::nullopt;
        bytes += static_cast<char>(HexDigit(c) * 16 + HexDigit(data[i + 1]));
        i += 2;
    }
    return bytes;
}

std::string HexData(std::u16string_view text) {
    std::string out = "hex(1):";
    std::size_t lineLength = out.size() + 2;
    for (std::size_t i = 0; i < text.size() * 2; ++i) {
        const auto byte = static_cast<unsigned>(i % 2 == 0 ? text[i / 2] & 0xFF : text[i / 2] >> 8);
        char buffer[4];
        std::snprintf(buffer, sizeof buffer, "%02x", byte);
        if (i > 0) {
            out += ',';
            // Wine's own line width: long data continues on indented lines.
            if (lineLength > 76) {
                out += "\\\n  ";
                lineLength = 2;
            }
        }
        out += buffer;
        lineLength += 3;
    }
    return out;
}

std::string EntryLine(std::u16string_view name, const std::string& data) {
    return (name.empty() ? std::string("@") : "\"" + WineRegistryFile::Escape(name) + "\"") + "=" +
           data + "\n";
}

// The data of a value entry: what follows the '=' after its name.
std::string_view EntryData(const std::string& raw) {
    std::size_t pos = 0;
    if (raw[0] == '"') {
        std::u16string ignored;
        pos = 1;
        Unescape(raw, pos, '"', ignored);
    } else {
        pos = 1;  // '@'
    }
    std::string_view data(raw);
    data.remove_prefix(std::min(pos + 1, raw.size()));  // and the '='
    while (!data.empty() && (data.back() == '\n' || data.back() == '\r')) data.remove_suffix(1);
    return data;
}

}  // namespace

std::string WineRegistryFile::Escape(std::u16string_view text) {
    return EscapeWith(text, "\"");
}

bool WineRegistryFile::Parse(std::string_view bytes) {
    if (bytes.substr(0, kSignature.size()) != kSignature) return false;
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t end = bytes.find('\n', pos);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        lines.push_back(bytes.substr(pos, next - pos));
        pos = next;
    }

    std::string head;
    std::vector<Section> sections;
    std::size_t i = 0;
    for (; i < lines.size() && lines[i].substr(0, 1) != "["; ++i) head.append(lines[i]);
    while (i < lines.size()) {
        Section section;
        const std::string_view header = lines[i];
        std::size_t pos = 1;
        std::u16string path;
        if (!Unescape(header, pos, ']', path)) return false;
        section.Path = NormalizePath(path);
        for (; pos < header.size() &&
               (header[pos] == ' ' || std::isdigit(static_cast<unsigned char>(header[pos])));
             ++pos) {
            if (header[pos] != ' ' && section.Time < 100000000000000LL)
                section.Time = section.Time * 10 + (header[pos] - '0');
        }
        section.Raw.append(header);
        for (++i; i < lines.size() && lines[i].substr(0, 1) != "["; ++i) {
            std::string_view line = lines[i];
            section.Raw.append(line);
            const char first = line.empty() ? '\n' : line[0];
            if (first == '\n' || first == '\r') continue;
            Entry entry;
            entry.Raw.assign(line);
            if (first == '#') {
                entry.Meta = true;
            } else if (first == '"' || first == '@') {
                std::size_t at = 1;
                if (first == '"' && !Unescape(line, at, '"', entry.Name)) return false;
                if (at >= line.size() || line[at] != '=') return false;
                // Long binary data continues over lines that end in a back-slash.
                const bool binary = line.substr(at + 1, 3) == "hex";
                auto continues = [](std::string_view l) {
                    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.remove_suffix(1);
                    return !l.empty() && l.back() == '\\';
                };
                while (binary && continues(line) && i + 1 < lines.size()) {
                    line = lines[++i];
                    section.Raw.append(line);
                    entry.Raw.append(line);
                }
            } else {
                return false;
            }
            section.Entries.push_back(std::move(entry));
        }
        sections.push_back(std::move(section));
    }
    head_ = std::move(head);
    sections_ = std::move(sections);
    return true;
}

std::string WineRegistryFile::Serialize() const {
    std::string out = head_;
    for (const Section& section : sections_) {
        // A file whose last line had no line end gets one before anything follows it.
        if (!out.empty() && out.back() != '\n') out += '\n';
        if (!section.Changed) {
            out += section.Raw;
            if (!out.empty() && out.back() != '\n') out += '\n';
            continue;
        }
        out += "[" + EscapeWith(section.Path, "[]") + "] " + std::to_string(section.Time) + "\n";
        char stamp[32];
        std::snprintf(
            stamp, sizeof stamp, "#time=%llx\n",
            static_cast<unsigned long long>((section.Time + kEpochDifference) * 10000000LL));
        out += stamp;
        for (const Entry& entry : section.Entries) {
            if (entry.Meta && entry.Raw.rfind("#time=", 0) == 0) continue;
            out += entry.Raw;
            if (out.back() != '\n') out += '\n';
        }
        out += '\n';
    }
    return out;
}

WineRegistryFile::Section* WineRegistryFile::FindSection(std::u16string_view path) {
    const std::u16string wanted = NormalizePath(path);
    for (Section& section : sections_)
        if (SameText(section.Path, wanted)) return &section;
    return nullptr;
}

const WineRegistryFile::Section* WineRegistryFile::FindSection(std::u16string_view path) const {
    return const_cast<WineRegistryFile*>(this)->FindSection(path);
}

bool WineRegistryFile::HasKey(std::u16string_view path) const {
    const std::u16string key = NormalizePath(path);
    return std::any_of(sections_.begin(), sections_.end(),
                       [&](const Section& s) { return AtOrBelow(s.Path, key); });
}

std::optional<WineRegistryFile::Value> WineRegistryFile::FindValue(std::u16string_view path,
                                                                   std::u16string_view name) const {
    const Section* section = FindSection(path);
    if (!section) return std::nullopt;
    for (const Entry& entry : section->Entries) {
        if (entry.Meta || !SameText(entry.Name, name)) continue;
        const std::string_view data = EntryData(entry.Raw);
        Value value;
        if (data.substr(0, 1) == "\"") {
            std::size_t pos = 1;
            value.Type = Value::Kind::Text;
            if (!Unescape(data, pos, '"', value.Text)) value.Type = Value::Kind::Other;
        } else if (data.substr(0, 6) == "dword:" && data.size() == 14 &&
                   std::all_of(data.begin() + 6, data.end(),
                               [](char c) { return HexDigit(c) >= 0; })) {
            value.Type = Value::Kind::Dword;
            for (const char c : data.substr(6))
                value.Number = value.Number * 16 + static_cast<std::uint32_t>(HexDigit(c));
        } else if (data.substr(0, 7) == "hex(1):") {
            const auto bytes = HexBytes(data.substr(7));
            if (bytes && bytes->size() % 2 == 0) {
                value.Type = Value::Kind::Text;
                for (std::size_t i = 0; i < bytes->size(); i += 2) {
                    value.Text +=
                        static_cast<char16_t>(static_cast<unsigned char>((*bytes)[i]) |
                                              (static_cast<unsigned char>((*bytes)[i + 1]) << 8));
                }
                if (!value.Text.empty() && value.Text.back() == u'\0') value.Text.pop_back();
            }
        }
        return value;
    }
    return std::nullopt;
}

WineRegistryFile::Section& WineRegistryFile::SectionFor(std::u16string_view path,
                                                        std::int64_t unixTime) {
    Section* section = FindSection(path);
    if (!section) {
        sections_.push_back(Section{});
        section = &sections_.back();
        section->Path = NormalizePath(path);
    }
    section->Changed = true;
    section->Time = unixTime;
    return *section;
}

bool WineRegistryFile::CreateKey(std::u16string_view path, std::int64_t unixTime) {
    if (HasKey(path)) return false;
    SectionFor(path, unixTime);
    return true;
}

bool WineRegistryFile::DeleteKey(std::u16string_view path) {
    const std::u16string key = NormalizePath(path);
    const auto removed = std::remove_if(sections_.begin(), sections_.end(),
                                        [&](const Section& s) { return AtOrBelow(s.Path, key); });
    const bool any = removed != sections_.end();
    sections_.erase(removed, sections_.end());
    return any;
}

void WineRegistryFile::SetEntry(std::u16string_view path, std::u16string_view name,
                                std::string data, std::int64_t unixTime) {
    Section& section = SectionFor(path, unixTime);
    Entry entry;
    entry.Name.assign(name);
    entry.Raw = EntryLine(name, data);
    for (Entry& existing : section.Entries) {
        if (!existing.Meta && SameText(existing.Name, name)) {
            existing = std::move(entry);
            return;
        }
    }
    section.Entries.push_back(std::move(entry));
}

void WineRegistryFile::SetText(std::u16string_view path, std::u16string_view name,
                               std::u16string_view text, bool terminated, std::int64_t unixTime) {
    SetEntry(path, name, terminated ? "\"" + Escape(text) + "\"" : HexData(text), unixTime);
}

void WineRegistryFile::SetDword(std::u16string_view path, std::u16string_view name,
                                std::uint32_t value, std::int64_t unixTime) {
    char data[16];
    std::snprintf(data, sizeof data, "dword:%08x", static_cast<unsigned>(value));
    SetEntry(path, name, data, unixTime);
}

bool WineRegistryFile::DeleteValue(std::u16string_view path, std::u16string_view name) {
    Section* section = FindSection(path);
    if (!section) return false;
    const auto found =
        std::find_if(section->Entries.begin(), section->Entries.end(),
                     [&](const Entry& e) { return !e.Meta && SameText(e.Name, name); });
    if (found == section->Entries.end()) return false;
    section->Entries.erase(found);
    section->Changed = true;
    return true;
}

void WineRegistryFile::SetOther(std::u16string_view path, std::u16string_view name,
                                std::int64_t unixTime) {
    SetEntry(path, name, "hex:", unixTime);
}
