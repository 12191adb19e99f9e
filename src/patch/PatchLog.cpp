#include "patch/PatchLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "patch/PatchList.h"
#include "patch/VersionNumber.h"
#include "platform/AsciiText.h"
#include "platform/DescriptorIo.h"

namespace {

std::optional<std::string> ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return contents;
}

std::vector<PatchLogLine> ReadLinesOf(std::string_view contents) {
    std::vector<PatchLogLine> lines;
    std::size_t pos = 0;
    while (pos < contents.size()) {
        std::size_t end = contents.find('\n', pos);
        if (end == std::string_view::npos) end = contents.size();
        std::string_view line = contents.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        PatchLogLine record;
        record.Kind = line.front();
        line.remove_prefix(1);
        record.Text = std::string(TrimAscii(line));
        lines.push_back(std::move(record));
    }
    return lines;
}

}  // namespace

PatchLog::PatchLog(std::filesystem::path file) : file_(std::move(file)) {}

bool PatchLog::Exists() const {
    std::error_code ec;
    return std::filesystem::exists(file_, ec);
}

bool PatchLog::AppendLogLine(char kind, std::string_view text) {
    return AppendLogLines(kind, std::span<const std::string_view>(&text, 1));
}

bool PatchLog::AppendLogLines(char kind, std::span<const std::string_view> texts) {
    // A line break inside a text would forge further records.
    if (kind == '\n' || kind == '\r') return false;
    for (const std::string_view text : texts) {
        if (text.find_first_of("\r\n") != std::string_view::npos) return false;
    }
    if (texts.empty()) return true;
    const std::optional<Stamp> before = StampOf(file_);
    const bool summaryCurrent = summary_ && before && *before == summaryStamp_;
    // Read and write: the last byte is looked at below (a write-only descriptor cannot read
    // it, and a line would then be glued to a log's unended last one).
    const int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    std::string lines;
    // A log whose last line lacks its end (written by hand) gets it first.
    struct stat st {};
    char last = '\n';
    const bool sized = ::fstat(fd, &st) == 0;
    if (sized && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        lines.push_back('\n');
    for (const std::string_view text : texts) {
        lines.push_back(kind);
        lines.push_back(' ');
        lines.append(text);
        lines.push_back('\n');
    }
    // All lines in one write: a batch costs one system call, and a killed run still leaves
    // whole lines (a write to a local file is not cut short by a signal).
    const bool written = WriteAll(fd, lines.data(), lines.size());
    // A line cut short (a full disk) must not stay behind, where it would read as a record of
    // a file by part of its name: the log goes back to its last whole line.
    if (!written && sized && ::ftruncate(fd, st.st_size) != 0) {
        std::fprintf(stderr, "torvane: cannot cut a half-written line from %s: %s\n", file_.c_str(),
                     std::strerror(errno));
    }
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        summary_.reset();
        return false;
    }
    // Our own lines join what was read, unless the file was not as last read.
    const std::optional<Stamp> after = StampOf(file_);
    if (summaryCurrent && after && last == '\n' && before->Inode == after->Inode) {
        for (const PatchLogLine& record : ReadLinesOf(lines)) {
            if (kind == 'F') summary_->Files.insert(UpperAscii(record.Text));
            if (kind == 'V' && !summary_->HasVersion) {
                summary_->HasVersion = true;
                summary_->Version = record.Text;
            }
        }
        summaryStamp_ = *after;
    } else {
        summary_.reset();
    }
    return true;
}

std::optional<std::vector<PatchLogLine>> PatchLog::ReadLines() const {
    const auto contents = ReadWhole(file_);
    if (!contents) return std::nullopt;
    return ReadLinesOf(*contents);
}

std::optional<PatchLog::Stamp> PatchLog::StampOf(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return Stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                 static_cast<std::uint64_t>(st.st_size),
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

const PatchLog::Summary* PatchLog::CurrentSummary() const {
    const std::optional<Stamp> stamp = StampOf(file_);
    if (!stamp) {
        summary_.reset();
        return nullptr;
    }
    if (summary_ && *stamp == summaryStamp_) return &*summary_;
    summary_.reset();
    const auto lines = ReadLines();
    if (!lines) return nullptr;
    Summary summary;
    for (const PatchLogLine& line : *lines) {
        if (line.Kind == 'F') summary.Files.insert(UpperAscii(line.Text));
        if (line.Kind == 'V' && !summary.HasVersion) {
            summary.HasVersion = true;
            summary.Version = line.Text;
        }
    }
    // Stamped as it was before the reading: a change meanwhile makes the next query read again.
    summary_ = std::move(summary);
    summaryStamp_ = *stamp;
    return &*summary_;
}

bool PatchLog::IsFileLogged(std::string_view path) const {
    const Summary* summary = CurrentSummary();
    return summary && summary->Files.count(UpperAscii(path)) > 0;
}

bool PatchLog::IsLoggedVersionDifferent(std::int32_t targetPacked) const {
    const Summary* summary = CurrentSummary();
    if (!summary) return false;
    const VersionNumber logged =
        summary->HasVersion ? VersionNumber::Parse(summary->Version) : VersionNumber{};
    return logged.Packed() != targetPacked;
}

bool PatchLog::Remove() const {
    summary_.reset();
    std::error_code ec;
    return std::filesystem::remove(file_, ec) && !ec;
}
