#pragma once
// Where every download lands: the bytes go to a temporary name beside the target while each
// validator looks at them, and the file takes the target's name only when the transfer ended
// and every validator passed. Anything less (a failed or stopped transfer, a write error, a
// size or hash that does not match) leaves the target as it was and no temporary file behind.
//
// Validators see the bytes as they arrive, so a size limit stops an endless stream at once
// and a hash costs no second read.
//
// A resumable download (one with a fixed temporary suffix) may keep its bytes when the
// transfer breaks or the process dies: beside the temporary file a small record says where the
// bytes came from and which version of the server's file they belong to. The next run asks
// the server whether that version is still there and, if so, continues from the bytes on
// disk; the kept bytes are read through every validator again first, so the checks at the
// commit cover the whole file. A refused or failed commit removes the bytes and the record.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Sha256.h"

class DownloadValidator {
public:
    virtual ~DownloadValidator() = default;
    // False when the bytes so far already cannot pass (the sink then refuses more).
    virtual bool Update(const char* data, std::size_t size) = 0;
    // After the last byte: false with `why` when the whole does not pass.
    virtual bool Finish(std::string& why) = 0;
};

// Exactly `size` bytes (a stream that goes past it is refused as soon as it does).
std::unique_ptr<DownloadValidator> ExactSize(std::uint64_t size);
// At most `size` bytes.
std::unique_ptr<DownloadValidator> SizeLimit(std::uint64_t size);
std::unique_ptr<DownloadValidator> ExpectedSha256(const Sha256Digest& digest);
// The zip and compressed-file check sum (zlib's CRC-32).
std::unique_ptr<DownloadValidator> ExpectedCrc32(std::uint32_t crc);

// What a download is expected to be; empty members are not checked.
struct DownloadExpectation {
    std::optional<std::uint64_t> Size;
    std::optional<std::uint64_t> MaxSize;
    std::optional<Sha256Digest> Digest;
    bool Empty() const { return !Size && !MaxSize && !Digest; }
    // Only a limit (none for 0).
    static DownloadExpectation AtMost(std::uint64_t maxBytes) {
        DownloadExpectation e;
        if (maxBytes > 0) e.MaxSize = maxBytes;
        return e;
    }
    // Exactly this file.
    static DownloadExpectation Exactly(std::uint64_t size, const Sha256Digest& digest) {
        DownloadExpectation e;
        e.Size = size;
        e.Digest = digest;
        return e;
    }
};

// Which version of which remote file a kept partial download belongs to.
struct ResumeRecord {
    std::string Source;      // the URL without its query, or ftp://host:port/dir/name
    std::uint64_t Size = 0;  // the whole file's size (0: not known)
    std::string Version;     // the server's mark of the file's version: ETag, date, MDTM reply
    bool operator==(const ResumeRecord&) const = default;
};

// A kept partial download: its record and the bytes on disk.
struct PartialDownload {
    ResumeRecord Record;
    std::uint64_t Bytes = 0;
};

class DownloadSink {
public:
    // The temporary file is a unique name beside the target, or, with `temporarySuffix`, the
    // target's name with that suffix (reused and truncated: a run killed half-way leaves
    // one file there that the next download of the same target replaces).
    explicit DownloadSink(std::filesystem::path target, std::string temporarySuffix = {});
    // The temporary file at exactly `path` instead (created anew: it must not exist yet), for
    // writers whose leftovers are found by name after a crash.
    void SetTemporaryPath(std::filesystem::path path) { chosenTemporary_ = std::move(path); }
    ~DownloadSink();  // abandons an uncommitted download
    DownloadSink(const DownloadSink&) = delete;
    DownloadSink& operator=(const DownloadSink&) = delete;

    // Work files fetched anew on every run need not reach the disk before they take their name;
    // everything else is flushed first (the default).
    void SetFlushToDisk(bool flush) { flushToDisk_ = flush; }
    // A file of a batch that one flush of the whole file system makes durable later: not
    // flushed here, but the disk starts on it at commit, so that flush finds little left.
    void SetWriteBackStarted() {
        flushToDisk_ = false;
        startWriteBack_ = true;
    }
    // Permission bits of the file (default 0644, like any downloaded game file).
    void SetMode(unsigned mode) { mode_ = mode; }
    // The file's last-write time (seconds since the epoch), set through the open descriptor
    // after the last byte: an unpacked file keeps its packed time without a look-up by name.
    void SetModificationTime(std::int64_t seconds) { modificationTime_ = seconds; }
    void AddValidator(std::unique_ptr<DownloadValidator> validator);
    void Expect(const DownloadExpectation& expectation);

    // Creates the temporary file (readable by all, like any game file), dropping any kept
    // partial download of the target. False on failure.
    bool Open();

    // Resumable downloads only (a temporary suffix was given).
    // The partial download an earlier run kept for this target when it came from `source`.
    std::optional<PartialDownload> FindPartial(const std::string& source) const;
    // Opens the kept temporary file, cut to its first `bytes` bytes, and feeds those through
    // every validator (add them first). False, with the partial download dropped, when the
    // bytes are not there any more or a validator refuses them: the caller starts over.
    bool OpenResuming(std::uint64_t bytes);
    // From now on an interrupted download keeps its bytes under this record (written beside
    // the temporary file at once, so a killed process leaves it too). A record without a
    // version mark cannot be checked later: the download is then not kept.
    bool KeepForResume(const ResumeRecord& record);
    // Closes the temporary file and keeps it with its record for a later run (when one was
    // set; otherwise the same as Abandon). For a transfer that broke or was stopped.
    void Interrupt();
    // Removes a kept partial download of the target and its record.
    void DiscardPartial();
    // The name of the record beside the temporary file.
    std::filesystem::path RecordPath() const;
    // False when the write failed or a validator refused the bytes (the download is then
    // abandoned); Failure() says why.
    bool Write(const char* data, std::size_t size);
    // Flushes, checks every validator and renames over the target. False (target untouched,
    // temporary file gone) with Failure() set otherwise.
    bool Commit();
    // Drops the temporary file (and a kept record); the target stays as it was.
    void Abandon();

    // The last step of every download: `complete`, a file some sink committed and kept aside
    // until the rest of its batch was ready, replaces `target` (a copy through a sink beside
    // the target when they lie on different file systems). False with `failure` set otherwise;
    // `complete` is then left for its owner to remove.
    static bool CommitFile(const std::filesystem::path& complete,
                           const std::filesystem::path& target, std::string& failure);

    const std::filesystem::path& Target() const { return target_; }
    std::uint64_t BytesWritten() const { return written_; }
    // Why the download was refused; empty when nothing went wrong.
    const std::string& Failure() const { return failure_; }
    // True when a validator (not the disk) refused the data.
    bool Refused() const { return refused_; }

private:
    std::filesystem::path TemporaryPath() const;
    bool AdoptFile(int fd, const std::string& name);
    bool StampTime();  // the chosen modification time, if any; false (errno set) on failure
    void DropRecord();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::string temporarySuffix_;
    std::filesystem::path chosenTemporary_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // the stream's buffer, kept across Open calls
    std::vector<std::unique_ptr<DownloadValidator>> validators_;
    std::uint64_t written_ = 0;
    std::string failure_;
    bool refused_ = false;
    bool keep_ = false;  // a record was written: an interruption keeps the bytes
    bool flushToDisk_ = true;
    bool startWriteBack_ = false;
    unsigned mode_ = 0644;
    std::optional<std::int64_t> modificationTime_;
};
