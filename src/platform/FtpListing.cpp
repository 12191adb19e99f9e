#include "platform/FtpListing.h"

#include <cstdint>
#include <limits>

#include "platform/AsciiText.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A decimal size; false on an empty text, a non-digit or overflow.
bool ParseSize(std::string_view text, std::uint64_t* value) {
    if (text.empty()) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (v > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

// Splits off the next blank-separated field; `rest` keeps what follows, blanks skipped.
std::string_view NextField(std::string_view* rest) {
    std::size_t start = 0;
    while (start < rest->size() && IsBlank((*rest)[start])) ++start;
    std::size_t end = start;
    while (end < rest->size() && !IsBlank((*rest)[end])) ++end;
    const std::string_view field = rest->substr(start, end - start);
    std::size_t next = end;
    while (next < rest->size() && IsBlank((*rest)[next])) ++next;
    *rest = rest->substr(next);
    return field;
}

bool IsUsableName(std::string_view name) {
    return !name.empty() && name.find('\0') == name.npos;
}

}  // namespace

bool ParseMlsdLine(std::string_view line, FtpFindData* entry) {
    // Facts end at the first blank; the name is everything after that single blank.
    const std::size_t blank = line.find(' ');
    if (blank == line.npos) return false;
    std::string_view facts = line.substr(0, blank);
    const std::string_view name = line.substr(blank + 1);
    if (!IsUsableName(name)) return false;

    FtpFindData found;
    found.Name = std::string(name);
    bool typeSeen = false;
    while (!facts.empty()) {
        const std::size_t semi = facts.find(';');
        const std::string_view fact = facts.substr(0, semi);
        facts = semi == facts.npos ? std::string_view() : facts.substr(semi + 1);
        const std::size_t eq = fact.find('=');
        if (eq == fact.npos) continue;
        const std::string_view key = fact.substr(0, eq);
        const std::string_view value = fact.substr(eq + 1);
        if (EqualsIgnoringAsciiCase(key, "type")) {
            typeSeen = true;
            // cdir and pdir are the listed directory and its parent, not entries of it.
            if (EqualsIgnoringAsciiCase(value, "cdir") || EqualsIgnoringAsciiCase(value, "pdir"))
                return false;
            found.IsDirectory =
                EqualsIgnoringAsciiCase(value, "dir") ||
                (value.size() > 8 && EqualsIgnoringAsciiCase(value.substr(0, 8), "OS.unix=") &&
                 value.find("slink") == value.npos && value.find("dir") != value.npos);
        } else if (EqualsIgnoringAsciiCase(key, "size") || EqualsIgnoringAsciiCase(key, "sizd")) {
            std::uint64_t size = 0;
            if (ParseSize(value, &size) && EqualsIgnoringAsciiCase(key, "size")) found.Size = size;
        }
    }
    if (!typeSeen) return false;
    *entry = std::move(found);
    return true;
}

bool ParseUnixListLine(std::string_view line, FtpFindData* entry) {
    // "-rw-r--r--   1 owner  group   1234 Dec  8 01:29 name with blanks"
    // The owner and group may be missing; the size is the last number before the month.
    if (line.size() < 10) return false;
    const char type = line[0];
    if (type != '-' && type != 'd' && type != 'l') return false;
    for (std::size_t i = 1; i < 10; ++i) {
        if (std::string_view("rwxsStTl-").find(line[i]) == std::string_view::npos) return false;
    }

    std::string_view rest = line;
    std::vector<std::string_view> fields;
    // Read fields until the date: month name (3 letters), day, then time or year.
    while (!rest.empty() && fields.size() < 16) {
        fields.push_back(NextField(&rest));
        const std::size_t n = fields.size();
        if (n >= 5) {
            const std::string_view month = fields[n - 3];
            const std::string_view day = fields[n - 2];
            const std::string_view timeOrYear = fields[n - 1];
            const bool monthOk =
                month.size() == 3 && std::isalpha(static_cast<unsigned char>(month[0]));
            const bool dayOk = !day.empty() && day.size() <= 2 && IsDigit(day[0]);
            const bool tyOk = !timeOrYear.empty() && IsDigit(timeOrYear[0]);
            std::uint64_t size = 0;
            if (monthOk && dayOk && tyOk && ParseSize(fields[n - 4], &size)) {
                std::string_view name = rest;
                if (type == 'l') {
                    const std::size_t arrow = name.find(" -> ");
                    if (arrow != name.npos) name = name.substr(0, arrow);
                }
                if (!IsUsableName(name)) return false;
                entry->Name = std::string(name);
                entry->Size = size;
                entry->IsDirectory = type == 'd';
                return true;
            }
        }
    }
    return false;
}

bool ParseDosListLine(std::string_view line, FtpFindData* entry) {
    // "12-05-26  10:15AM       <DIR>          Data"
    // "12-05-2026  10:15AM             1234 file.txt"
    std::string_view rest = line;
    const std::string_view date = NextField(&rest);
    if (date.size() < 8 || !IsDigit(date[0]) || (date[2] != '-' && date[2] != '/')) return false;
    const std::string_view time = NextField(&rest);
    if (time.size() < 4 || !IsDigit(time[0]) || time.find(':') == time.npos) return false;
    const std::string_view sizeOrDir = NextField(&rest);
    const std::string_view name = rest;
    if (!IsUsableName(name)) return false;
    FtpFindData found;
    if (EqualsIgnoringAsciiCase(sizeOrDir, "<DIR>")) {
        found.IsDirectory = true;
    } else {
        std::string digits;
        for (char c : sizeOrDir) {
            if (c != ',') digits.push_back(c);  // some servers group thousands
        }
        if (!ParseSize(digits, &found.Size)) return false;
    }
    found.Name = std::string(name);
    *entry = std::move(found);
    return true;
}

std::vector<FtpFindData> ParseFtpListing(std::string_view text, FtpListingFormat format) {
    std::vector<FtpFindData> entries;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == text.npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        FtpFindData entry;
        bool ok = false;
        if (format == FtpListingFormat::Machine) {
            ok = ParseMlsdLine(line, &entry);
        } else {
            ok = ParseUnixListLine(line, &entry) || ParseDosListLine(line, &entry);
        }
        if (ok) entries.push_back(std::move(entry));
    }
    return entries;
}

std::int64_t ParseFtpSizeReply(std::string_view line) {
    if (line.size() < 5 || line.substr(0, 4) != "213 ") return -1;
    std::int64_t value = 0;
    std::size_t i = 4;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        if (value > (INT64_MAX - 9) / 10) return -1;
        value = value * 10 + (line[i] - '0');
    }
    return i > 4 ? value : -1;
}
