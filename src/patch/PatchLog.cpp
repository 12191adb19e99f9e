#include "patch/PatchLog.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "patch/PatchList.h"
#include "patch/VersionNumber.h"
#include "platform/AtomicFile.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::optional<std::string> ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return contents;
}

}  // namespace

PatchLog::PatchLog(std::filesystem::path file) : file_(std::move(file)) {}

bool PatchLog::Exists() const {
    std::error_code ec;
    return std::filesystem::exists(file_, ec);
}

bool PatchLog::AppendLogLine(char kind, std::string_view text) {
    // A line break inside the text would forge further records.
    if (kind == '\n' || kind == '\r' || text.find_first_of("\r\n") != std::string_view::npos) {
        return false;
    }
    std::string contents;
    if (Exists()) {
        auto existing = ReadWhole(file_);
        if (!existing) return false;
        contents = std::move(*existing);
        if (!contents.empty() && contents.back() != '\n') contents.push_back('\n');
    }
    contents.push_back(kind);
    contents.push_back(' ');
    contents.append(text);
    contents.push_back('\n');
    return WriteFileAtomically(file_, contents);
}

std::optional<std::vector<PatchLogLine>> PatchLog::ReadLines() const {
    const auto contents = ReadWhole(file_);
    if (!contents) return std::nullopt;
    std::vector<PatchLogLine> lines;
    std::size_t pos = 0;
    while (pos < contents->size()) {
        std::size_t end = contents->find('\n', pos);
        if (end == std::string::npos) end = contents->size();
        std::string_view line(contents->data() + pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        PatchLogLine record;
        record.Kind = line.front();
        line.remove_prefix(1);
        while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
        while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
        record.Text = std::string(line);
        lines.push_back(std::move(record));
    }
    return lines;
}

bool PatchLog::IsFileLogged(std::string_view path) const {
    const auto lines = ReadLines();
    if (!lines) return false;
    for (const PatchLogLine& line : *lines) {
        if (line.Kind == 'F' && EqualsIgnoringCase(line.Text, path)) return true;
    }
    return false;
}

bool PatchLog::IsLoggedVersionDifferent(std::int32_t targetPacked) const {
    const auto lines = ReadLines();
    if (!lines) return false;
    VersionNumber logged;
    for (const PatchLogLine& line : *lines) {
        if (line.Kind == 'V') {
            logged = VersionNumber::Parse(line.Text);
            break;
        }
    }
    return logged.Packed() != targetPacked;
}

bool PatchLog::Remove() const {
    std::error_code ec;
    return std::filesystem::remove(file_, ec) && !ec;
}
