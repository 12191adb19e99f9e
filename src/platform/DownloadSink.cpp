#include "platform/DownloadSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/AtomicFile.h"

namespace {

// Large enough that a 150 MB archive takes about 1,200 writes; small enough that a process
// writing one file (each touched page of a fresh buffer costs a page fault) stays cheap.
constexpr std::size_t kWriteBufferSize = 128 << 10;
// Kept bytes are read back through the validators this much at a time.
constexpr std::size_t kReadBackPiece = 256 * 1024;
// A record is three short lines; anything longer is not one of ours.
constexpr std::uintmax_t kMaxRecordBytes = 16 * 1024;

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}
constexpr std::size_t kCopyPiece = 256 * 1024;

class SizeValidator : public DownloadValidator {
public:
    SizeValidator(std::uint64_t size, bool exact) : size_(size), exact_(exact) {}
    bool Update(const char*, std::size_t size) override {
        seen_ += size;
        return seen_ <= size_;
    }
    bool Finish(std::string& why) override {
        if (seen_ > size_ || (exact_ && seen_ != size_)) {
            why = std::to_string(seen_) + " bytes arrived, " + (exact_ ? "" : "at most ") +
                  std::to_string(size_) + " expected";
            return false;
        }
        return true;
    }

private:
    std::uint64_t size_;
    bool exact_;
    std::uint64_t seen_ = 0;
};

class Sha256Validator : public DownloadValidator {
public:
    explicit Sha256Validator(const Sha256Digest& digest) : expected_(digest) {}
    bool Update(const char* data, std::size_t size) override {
        hash_.Update(data, size);
        return true;
    }
    bool Finish(std::string& why) override {
        const Sha256Digest got = hash_.Final();
        if (got == expected_) return true;
        why = "SHA-256 " + ToHex(got) + ", expected " + ToHex(expected_);
        return false;
    }

private:
    Sha256Digest expected_;
    Sha256 hash_;
};

class Crc32Validator : public DownloadValidator {
public:
    explicit Crc32Validator(std::uint32_t crc) : expected_(crc) {}
    bool Update(const char* data, std::size_t size) override {
        while (size > 0) {
            const uInt part = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
            crc_ = crc32(crc_, reinterpret_cast<const Bytef*>(data), part);
            data += part;
            size -= part;
        }
        return true;
    }
    bool Finish(std::string& why) override {
        if (crc_ == expected_) return true;
        char text[64];
        std::snprintf(text, sizeof text, "CRC-32 %08lx, expected %08x", crc_,
                      static_cast<unsigned>(expected_));
        why = text;
        return false;
    }

private:
    std::uint32_t expected_;
    uLong crc_ = crc32(0L, Z_NULL, 0);
};

}  // namespace

std::unique_ptr<DownloadValidator> ExactSize(std::uint64_t size) {
    return std::make_unique<SizeValidator>(size, true);
}
std::unique_ptr<DownloadValidator> SizeLimit(std::uint64_t size) {
    return std::make_unique<SizeValidator>(size, false);
}
std::unique_ptr<DownloadValidator> ExpectedSha256(const Sha256Digest& digest) {
    return std::make_unique<Sha256Validator>(digest);
}
std::unique_ptr<DownloadValidator> ExpectedCrc32(std::uint32_t crc) {
    return std::make_unique<Crc32Validator>(crc);
}

DownloadSink::DownloadSink(std::filesystem::path target, std::string temporarySuffix)
    : target_(std::move(target)), temporarySuffix_(std::move(temporarySuffix)) {}

DownloadSink::~DownloadSink() {
    Abandon();
}

void DownloadSink::AddValidator(std::unique_ptr<DownloadValidator> validator) {
    validators_.push_back(std::move(validator));
}

void DownloadSink::Expect(const DownloadExpectation& e) {
    if (e.Size) AddValidator(ExactSize(*e.Size));
    if (e.MaxSize) AddValidator(SizeLimit(*e.MaxSize));
    if (e.Digest) AddValidator(ExpectedSha256(*e.Digest));
}

std::filesystem::path DownloadSink::TemporaryPath() const {
    return target_.string() + temporarySuffix_;
}

std::filesystem::path DownloadSink::RecordPath() const {
    return TemporaryPath().string() + ".resume";
}

void DownloadSink::DropRecord() {
    keep_ = false;
    if (!temporarySuffix_.empty()) ::unlink(RecordPath().c_str());
}

bool DownloadSink::Open() {
    Abandon();
    DropRecord();
    failure_.clear();
    refused_ = false;
    written_ = 0;
    std::string name;
    int fd = -1;
    if (!chosenTemporary_.empty()) {
        name = chosenTemporary_.string();
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } else if (!temporarySuffix_.empty()) {
        name = target_.string() + temporarySuffix_;
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    } else {
        name = target_.string() + ".XXXXXX";
        fd = mkstemp(name.data());
    }
    if (fd < 0) {
        failure_ = "cannot create " + name + ": " + std::strerror(errno);
        return false;
    }
    return AdoptFile(fd, name);
}

bool DownloadSink::AdoptFile(int fd, const std::string& name) {
    // Created private; a downloaded game file should look like any other (the umask does not
    // narrow fchmod, so the bits asked for are the bits it gets).
    ::fchmod(fd, static_cast<mode_t>(mode_));
    file_ = fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        ::unlink(name.c_str());
        failure_ = "cannot write beside " + target_.string();
        return false;
    }
    // Large writes: libcurl hands over what each receive got, often a few KiB. The buffer is
    // given: without one, the C library ignores the size and buffers 4 KiB (a 150 MB archive
    // took 18,700 writes).
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kWriteBufferSize);
    std::setvbuf(file_, buffer_.get(), _IOFBF, kWriteBufferSize);
    temporary_ = name;
    return true;
}

std::optional<PartialDownload> DownloadSink::FindPartial(const std::string& source) const {
    if (temporarySuffix_.empty()) return std::nullopt;
    std::error_code ec;
    const std::filesystem::path record = RecordPath();
    if (!std::filesystem::is_regular_file(record, ec) ||
        std::filesystem::file_size(record, ec) > kMaxRecordBytes || ec)
        return std::nullopt;
    struct stat info {};
    if (::lstat(TemporaryPath().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::ifstream in(record);
    PartialDownload partial;
    std::string line;
    bool size = false;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) return std::nullopt;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "source") {
            partial.Record.Source = value;
        } else if (key == "version") {
            partial.Record.Version = value;
        } else if (key == "size") {
            char* end = nullptr;
            errno = 0;
            partial.Record.Size = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0) return std::nullopt;
            size = true;
        }
    }
    if (!size || partial.Record.Source != source || partial.Record.Version.empty())
        return std::nullopt;
    partial.Bytes = static_cast<std::uint64_t>(info.st_size);
    return partial;
}

bool DownloadSink::OpenResuming(std::uint64_t bytes) {
    Abandon();
    failure_.clear();
    refused_ = false;
    written_ = 0;
    if (temporarySuffix_.empty()) return false;
    const std::string name = TemporaryPath().string();
    // O_NOFOLLOW: the kept file is ours; a link put in its place is not followed.
    const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) < bytes ||
        ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        failure_ = "cannot reopen " + name + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        temporary_ = name;
        Abandon();
        return false;
    }
    // The validators hear the kept bytes first, so a hash or a size covers the whole file.
    std::vector<char> piece(kReadBackPiece);
    std::uint64_t done = 0;
    while (done < bytes) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), bytes - done));
        const ssize_t got = ::pread(fd, piece.data(), want, static_cast<off_t>(done));
        bool accepted = got > 0;
        for (auto& v : validators_) {
            if (accepted && !v->Update(piece.data(), static_cast<std::size_t>(got)))
                accepted = false;
        }
        if (!accepted) {
            failure_ = got > 0 ? target_.filename().string() + ": the kept bytes are refused"
                               : "cannot read back " + name + ": " + std::strerror(errno);
            ::close(fd);
            temporary_ = name;
            Abandon();
            return false;
        }
        done += static_cast<std::uint64_t>(got);
    }
    if (::lseek(fd, 0, SEEK_END) < 0 || !AdoptFile(fd, name)) {
        temporary_ = name;
        Abandon();
        return false;
    }
    written_ = bytes;
    return true;
}

bool DownloadSink::KeepForResume(const ResumeRecord& record) {
    if (temporarySuffix_.empty() || record.Version.empty() || HasLineBreak(record.Source) ||
        HasLineBreak(record.Version)) {
        DropRecord();
        return false;
    }
    const std::string text = "source=" + record.Source + "\nsize=" + std::to_string(record.Size) +
                             "\nversion=" + record.Version + "\n";
    keep_ = WriteFileAtomically(RecordPath(), text);
    return keep_;
}

void DownloadSink::DiscardPartial() {
    if (temporarySuffix_.empty()) return;
    Abandon();
    ::unlink(TemporaryPath().c_str());
    DropRecord();
}

void DownloadSink::Interrupt() {
    if (!keep_) {
        Abandon();
        return;
    }
    // What the stream buffer holds goes to the file; a failed flush keeps less, which the
    // next run simply fetches again.
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    temporary_.clear();
    keep_ = false;
}

bool DownloadSink::Write(const char* data, std::size_t size) {
    if (!file_) return false;
    for (auto& v : validators_) {
        if (!v->Update(data, size)) {
            std::string why;
            v->Finish(why);
            failure_ = target_.filename().string() + ": " + why;
            refused_ = true;
            Abandon();
            return false;
        }
    }
    if (std::fwrite(data, 1, size, file_) != size) {
        failure_ = "cannot write " + temporary_.string() + ": " + std::strerror(errno);
        Abandon();
        return false;
    }
    written_ += size;
    return true;
}

bool DownloadSink::Commit() {
    if (!file_) return false;
    const bool flushed =
        std::fflush(file_) == 0 && StampTime() && (!flushToDisk_ || ::fsync(fileno(file_)) == 0);
    if (flushed && startWriteBack_) ::sync_file_range(fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
        failure_ = "cannot write " + temporary_.string() + ": " + std::strerror(errno);
        Abandon();
        return false;
    }
    for (auto& v : validators_) {
        std::string why;
        if (!v->Finish(why)) {
            failure_ = target_.filename().string() + ": " + why;
            refused_ = true;
            Abandon();
            return false;
        }
    }
    if (!CommitFile(temporary_, target_, failure_)) {
        Abandon();
        return false;
    }
    temporary_.clear();
    DropRecord();
    return true;
}

bool DownloadSink::StampTime() {
    if (!modificationTime_) return true;
    struct timespec times[2] = {};
    times[0].tv_nsec = UTIME_NOW;
    times[1].tv_sec = static_cast<time_t>(*modificationTime_);
    return ::futimens(fileno(file_), times) == 0;
}

bool DownloadSink::CommitFile(const std::filesystem::path& complete,
                              const std::filesystem::path& target, std::string& failure) {
    if (::rename(complete.c_str(), target.c_str()) == 0) return true;
    const int error = errno;
    if (error != EXDEV) {
        failure = "cannot rename " + complete.string() + " to " + target.string() + ": " +
                  std::strerror(error);
        errno = error;
        return false;
    }
    // A folder mounted from another file system: the file is copied beside the target through
    // a sink of its own, which then replaces it the same way.
    const int in = ::open(complete.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0) {
        failure = "cannot read " + complete.string() + ": " + std::strerror(errno);
        if (in >= 0) ::close(in);
        return false;
    }
    DownloadSink copy(target);
    copy.SetMode(st.st_mode & 07777);
    bool ok = copy.Open();
    std::unique_ptr<char[]> buffer(new char[kCopyPiece]);
    while (ok) {
        const ssize_t got = ::read(in, buffer.get(), kCopyPiece);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            copy.failure_ = "cannot read " + complete.string() + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        if (got == 0) break;
        ok = copy.Write(buffer.get(), static_cast<std::size_t>(got));
    }
    ::close(in);
    if (ok) ok = copy.Commit();
    if (!ok) {
        failure = copy.Failure();
        copy.Abandon();
        return false;
    }
    ::unlink(complete.c_str());
    return true;
}

void DownloadSink::Abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
        DropRecord();
    }
}
