#include "trust/TextRecords.h"

#include <cstdio>
#include <ctime>

namespace textrecords {

bool SplitLines(std::string_view text, std::vector<std::string_view>& lines, std::string& error) {
    if (!text.empty() && text.back() != '\n') {
        error = "the last line has no line break (the file was cut short)";
        return false;
    }
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end > kMaxLineBytes) {
            error = "line " + std::to_string(lines.size() + 1) + " is longer than " +
                    std::to_string(kMaxLineBytes) + " bytes";
            return false;
        }
        if (lines.size() >= kMaxLines) {
            error = "more than " + std::to_string(kMaxLines) + " lines";
            return false;
        }
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return true;
}

std::optional<std::vector<std::string_view>> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (true) {
        std::size_t blank = line.find(' ');
        std::string_view field = line.substr(0, blank);
        if (field.empty()) return std::nullopt;
        fields.push_back(field);
        if (blank == std::string_view::npos) break;
        line.remove_prefix(blank + 1);
    }
    return fields;
}

bool ReadRecords(std::string_view text, std::string_view magic,
                 const std::function<std::string(const std::vector<std::string_view>&)>& record,
                 std::string& error) {
    std::vector<std::string_view> lines;
    if (!SplitLines(text, lines, error)) return false;
    if (lines.empty()) {
        error = "empty";
        return false;
    }
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::string why;
        auto fields = Fields(lines[n]);
        if (!fields) {
            why = "malformed (empty field)";
        } else if (n == 0) {
            const auto& f = *fields;
            if (f.size() != 2 || f[0] != magic)
                why = "not a " + std::string(magic) + " file";
            else if (f[1] != "1")
                why = "format " + std::string(f[1]) + " is not known";
        } else {
            why = record(*fields);
        }
        if (!why.empty()) {
            error = "line " + std::to_string(n + 1) + ": " + why;
            return false;
        }
    }
    return true;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
    // Exactly YYYY-MM-DDTHH:MM:SSZ.
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    auto number = [&](std::size_t at, std::size_t digits) -> int {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    std::tm tm{};
    int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    std::time_t t = timegm(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    // timegm normalises 31 February into March: refuse dates that do not exist.
    if (FormatUtcTime(t).compare(0, 10, text.substr(0, 10)) != 0) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::string FormatUtcTime(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

bool IsCleanRelativePath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7f || c == '\\' || c == ' ' || c == '"') return false;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace textrecords
