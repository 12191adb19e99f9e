#include "platform/GamePath.h"

#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// Splits on either separator; nullopt when any component is unacceptable.
std::optional<std::vector<std::string_view>> SplitSafe(std::string_view designPath) {
    if (designPath.empty()) return std::nullopt;
    if (designPath.find('\0') != std::string_view::npos) return std::nullopt;
    if (IsSeparator(designPath.front())) return std::nullopt;  // absolute or UNC
    // "C:" anywhere is a drive designator on the original platform, and ':' would name an
    // alternate data stream there; neither may reach the disk.
    if (designPath.find(':') != std::string_view::npos) return std::nullopt;

    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t end = start;
        while (end < designPath.size() && !IsSeparator(designPath[end])) ++end;
        const std::string_view part = designPath.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
        parts.push_back(part);
        if (end == designPath.size()) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace

GamePath::GamePath(std::filesystem::path root) : root_(std::move(root)) {}

bool GamePath::IsSafe(std::string_view designPath) {
    return SplitSafe(designPath).has_value();
}

std::optional<std::filesystem::path> GamePath::Resolve(std::string_view designPath) const {
    const auto parts = SplitSafe(designPath);
    if (!parts) return std::nullopt;

    std::filesystem::path current = root_;
    bool onDisk = true;  // once a component is missing, the rest cannot exist either
    for (const std::string_view part : *parts) {
        if (onDisk) {
            std::error_code ec;
            const std::filesystem::path exact = current / std::string(part);
            if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec))) {
                current = exact;
                continue;
            }
            std::filesystem::path match;
            std::filesystem::directory_iterator it(current, ec);
            for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
                const std::string name = it->path().filename().string();
                if (EqualsIgnoringAsciiCase(name, part)) {
                    // Several spellings on disk: take the smallest for a stable answer.
                    if (match.empty() || name < match.filename().string()) match = it->path();
                }
            }
            if (!match.empty()) {
                current = match;
                continue;
            }
            onDisk = false;
        }
        current /= std::string(part);
    }
    return current;
}
