#include "patch/PatchLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

#include "patch/PatchList.h"
#include "patch/VersionNumber.h"
#include "platform/AsciiText.h"
#include "platform/DescriptorIo.h"

namespace {

constexpr std::size_t kReadPiece = 64 * 1024;

using LineVisitor =
    std::function<bool(std::string_view line, std::uint64_t begin, std::uint64_t end)>;

// Calls `visit` for every line of `text`, whose first byte lies at `base` in the file, with
// the offsets of the line's first byte and just past its '\n'; a last line without one ends
// where `text` ends only when `final`. Returns how many bytes were taken (all of them when
// `final`), or npos when `visit` asked to stop.
std::size_t SplitLines(std::string_view text, std::uint64_t base, bool final,
                       const LineVisitor& visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos && !final) break;
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (!visit(text.substr(pos, stop - pos), base + pos, base + next))
            return std::string_view::npos;
        pos = next;
    }
    return pos;
}

// The lines of `file` from byte `begin` up to byte `end` (its end when nullopt), read in
// pieces. False when the file cannot be read.
bool ScanLines(const std::filesystem::path& file, std::uint64_t begin,
               std::optional<std::uint64_t> end, const LineVisitor& visit) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string pending;  // the unended line carried over from the last piece, then a piece
    std::uint64_t pendingAt = begin;
    std::uint64_t offset = begin;
    bool ok = true;
    for (;;) {
        std::size_t want = kReadPiece;
        if (end) want = static_cast<std::size_t>(std::min<std::uint64_t>(want, *end - offset));
        const std::size_t kept = pending.size();
        pending.resize(kept + want);
        ssize_t got = 0;
        if (want > 0) {
            do {
                got = ::pread(fd, pending.data() + kept, want, static_cast<off_t>(offset));
            } while (got < 0 && errno == EINTR);
        }
        if (got < 0) {
            ok = false;
            break;
        }
        pending.resize(kept + static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
        const bool final = got == 0;
        const std::size_t taken = SplitLines(pending, pendingAt, final, visit);
        if (taken == std::string::npos || final) break;
        pending.erase(0, taken);
        pendingAt += taken;
    }
    ::close(fd);
    return ok;
}

// A line as the log reads it: nullopt for an empty one.
std::optional<PatchLogLine> RecordOf(std::string_view line) {
    if (line.empty()) return std::nullopt;
    PatchLogLine record;
    record.Kind = line.front();
    line.remove_prefix(1);
    record.Text = std::string(TrimAscii(line));
    return record;
}

// The directory part of a logged path ("" for a file of the game directory itself).
std::string_view DirectoryOf(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
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
    // Our own lines join what was read, unless the file was not as last read or someone else
    // wrote to it meanwhile.
    const std::optional<Stamp> after = StampOf(file_);
    const std::uint64_t base = sized ? static_cast<std::uint64_t>(st.st_size) : 0;
    if (summaryCurrent && sized && after && last == '\n' && before->Inode == after->Inode &&
        after->Size == base + lines.size()) {
        SplitLines(lines, base, true,
                   [&](std::string_view line, std::uint64_t from, std::uint64_t to) {
                       const auto record = RecordOf(line);
                       if (record && record->Kind == 'F')
                           NoteFileLine(*summary_, UpperAscii(record->Text), from, to);
                       if (record && record->Kind == 'V' && !summary_->HasVersion) {
                           summary_->HasVersion = true;
                           summary_->Version = record->Text;
                       }
                       return true;
                   });
        summaryStamp_ = *after;
    } else {
        summary_.reset();
    }
    return true;
}

std::optional<std::vector<PatchLogLine>> PatchLog::ReadLines() const {
    std::vector<PatchLogLine> lines;
    if (!ForEachLine([&lines](const PatchLogLine& line) {
            lines.push_back(line);
            return true;
        }))
        return std::nullopt;
    return lines;
}

bool PatchLog::ForEachLine(const std::function<bool(const PatchLogLine&)>& visit) const {
    return ScanLines(file_, 0, std::nullopt,
                     [&visit](std::string_view line, std::uint64_t, std::uint64_t) {
                         const auto record = RecordOf(line);
                         return !record || visit(*record);
                     });
}

std::optional<PatchLog::Stamp> PatchLog::StampOf(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return Stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                 static_cast<std::uint64_t>(st.st_size),
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void PatchLog::NoteFileLine(Summary& summary, const std::string& upperText, std::uint64_t begin,
                            std::uint64_t end) {
    const std::string_view directory = DirectoryOf(upperText);
    const auto [span, added] =
        summary.Directories.try_emplace(std::string(directory), Span{begin, end});
    if (!added) span->second.End = end;
    if (summary.ScopeDirectory && *summary.ScopeDirectory == directory)
        summary.ScopeFiles.insert(upperText);
}

PatchLog::Summary* PatchLog::CurrentSummary() const {
    const std::optional<Stamp> stamp = StampOf(file_);
    if (!stamp) {
        summary_.reset();
        return nullptr;
    }
    if (summary_ && *stamp == summaryStamp_) return &*summary_;
    summary_.reset();
    Summary summary;
    const bool read =
        ScanLines(file_, 0, std::nullopt,
                  [&summary](std::string_view line, std::uint64_t begin, std::uint64_t end) {
                      const auto record = RecordOf(line);
                      if (record && record->Kind == 'F')
                          NoteFileLine(summary, UpperAscii(record->Text), begin, end);
                      if (record && record->Kind == 'V' && !summary.HasVersion) {
                          summary.HasVersion = true;
                          summary.Version = record->Text;
                      }
                      return true;
                  });
    if (!read) return nullptr;
    // Stamped as it was before the reading: a change meanwhile makes the next query read again.
    summary_ = std::move(summary);
    summaryStamp_ = *stamp;
    return &*summary_;
}

bool PatchLog::LoadScope(Summary& summary, const std::string& directory) const {
    summary.ScopeFiles.clear();
    summary.ScopeDirectory = directory;
    const auto span = summary.Directories.find(directory);
    if (span == summary.Directories.end()) return true;
    return ScanLines(file_, span->second.Begin, span->second.End,
                     [&](std::string_view line, std::uint64_t, std::uint64_t) {
                         const auto record = RecordOf(line);
                         if (!record || record->Kind != 'F') return true;
                         std::string upper = UpperAscii(record->Text);
                         if (DirectoryOf(upper) == directory)
                             summary.ScopeFiles.insert(std::move(upper));
                         return true;
                     });
}

bool PatchLog::IsFileLogged(std::string_view path) const {
    Summary* summary = CurrentSummary();
    if (!summary) return false;
    const std::string upper = UpperAscii(path);
    const std::string_view directory = DirectoryOf(upper);
    if (!summary->ScopeDirectory || *summary->ScopeDirectory != directory) {
        if (!LoadScope(*summary, std::string(directory))) {
            summary_.reset();
            return false;
        }
    }
    return summary->ScopeFiles.count(upper) > 0;
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
