#pragma once
// Reads a zip archive entry by entry: single-disk archives, entries stored or deflated, any
// data before the archive (such as a self-extractor stub) and a comment of up to 65513 bytes.
// Archives with 64-bit records (entries or archives of 4 GiB and more, more than 65535
// entries) are read through those records; an archive without them is read exactly as its
// 32-bit fields say. Names come back as stored; the reader does no path handling, so callers
// resolve them through GamePath before writing anything.
//
// Every failure throws: CFileException when the archive cannot be opened or read, and
// CZipException (see its Cause) for malformed archives, zlib errors and CRC mismatches. A CRC
// mismatch is raised when the entry is closed (by the next OpenEntry or Close), not by the
// read that finished it. Memory stays flat whatever the entry size: compressed data is read
// in pieces of at most 64 KiB.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/File.h"
#include "archive/ZUBaseFile.h"

// One central directory record. The sizes are the 64-bit ones where the record carries them.
struct EntryInfo {
    std::uint32_t VersionMadeBy = 0;
    std::uint32_t VersionNeeded = 0;
    std::uint32_t Flags = 0;
    std::uint32_t Method = 0;
    std::uint32_t DosDateTime = 0;  // date in the high half
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint32_t NameLength = 0;
    std::uint32_t ExtraLength = 0;
    std::uint32_t CommentLength = 0;
    std::uint32_t DiskNumberStart = 0;
    std::uint32_t InternalAttributes = 0;
    std::uint32_t ExternalAttributes = 0;
    std::int64_t ModificationTime = 0;  // local time of DosDateTime, seconds since the epoch
};

// MS-DOS date and time (date in the high half) as a local time; out-of-range fields are
// normalised the way mktime does.
std::int64_t DosDateTimeToLocalTime(std::uint32_t dosDateTime);

// MS-DOS read-only attribute bit of ExternalAttributes.
inline constexpr std::uint32_t kDosReadOnlyAttribute = 0x01;
// Host system of VersionMadeBy (its high byte) whose entries carry a Unix file mode in the high
// 16 bits of ExternalAttributes.
inline constexpr std::uint32_t kMadeByUnix = 3;

struct EntryReadState;

class CUnzipFile : public CZUBaseFile {
public:
    static constexpr std::size_t kReadBufferSize = 16384;

    CUnzipFile();
    // Opens `path` at once; failures leave by the exception.
    explicit CUnzipFile(const std::string& path);
    ~CUnzipFile() override;

    // Opens the archive and moves to its first entry; does nothing when one is open.
    void Open(const std::string& path);
    // Closes the open entry (with its CRC check) and the archive.
    void Close();

    void MoveFirst();
    // False when there is no current entry or it is the last one (which then stays current).
    bool MoveNext();

    // Re-reads the current entry's record. The name is copied up to `nameSize` bytes; a NUL
    // follows only when the buffer is larger than the name.
    void GetEntryInfo(EntryInfo* info, char* name = nullptr, std::size_t nameSize = 0);
    // The current entry's name, byte for byte.
    std::string GetEntryName();

    void OpenEntry();
    // Bytes placed in `buffer`; 0 once the entry is exhausted, or for a null or empty buffer.
    std::size_t ReadEntry(void* buffer, std::size_t size);
    void CloseEntry();

    // Closes `output` and stamps the file it wrote with the entry's modification time (access
    // time: now) and its read-only attribute (mapped onto the write permission bits).
    static void ApplyEntryStatus(CFile& output, const EntryInfo& info);
    // The same for a file that is already closed.
    static void ApplyEntryStatus(const std::string& path, const EntryInfo& info);
    // The permission bits a file extracted from the entry gets, from the bits `current` it
    // would have otherwise: the read-only attribute and a Unix entry's execute bits applied.
    static unsigned EntryFileMode(unsigned current, const EntryInfo& info);

    std::uint64_t EntryCount() const { return entryCount_; }
    // Where the current entry's local header starts in the file.
    std::uint64_t CurrentEntryHeaderOffset() const {
        return currentLocalHeaderOffset_ + prefixBytes_;
    }
    std::uint64_t EntryIndex() const { return entryIndex_; }
    // True when the archive's counts and offsets came from its 64-bit end records.
    bool HasZip64EndRecord() const { return zip64_; }
    std::uint64_t PrefixBytes() const { return prefixBytes_; }
    std::uint32_t CommentLength() const { return commentLength_; }

private:
    void LocateEndRecord();
    void ReadEndRecord();
    bool ReadZip64EndRecord();
    void TakeEndRecord(std::uint64_t recordPos, std::uint32_t thisDisk, std::uint32_t centralDisk,
                       std::uint64_t entriesHere, std::uint64_t entriesTotal);
    void ReadCentralRecord();
    void ReadExactlyAt(std::uint64_t position, void* buffer, std::size_t size);
    // The same for the small reads of headers, served from a read-ahead window, so walking
    // the central directory costs one system call per window rather than several per entry.
    void ReadHeaderAt(std::uint64_t position, void* buffer, std::size_t size);
    void DiscardEntry() noexcept;
    std::int64_t LocalTimeOf(std::uint32_t dosDateTime);

    CFile archiveFile_;
    std::uint64_t entryCount_ = 0;
    std::uint32_t commentLength_ = 0;
    std::uint64_t prefixBytes_ = 0;
    std::uint64_t entryIndex_ = 0;
    bool zip64_ = false;
    std::uint64_t entryRecordPos_ = 0;
    bool hasCurrentEntry_ = false;
    std::uint64_t endRecordPos_ = 0;
    std::uint64_t centralDirSize_ = 0;
    std::uint64_t centralDirOffset_ = 0;
    EntryInfo currentInfo_;
    std::uint64_t currentLocalHeaderOffset_ = 0;
    std::unique_ptr<EntryReadState> readState_;
    std::vector<unsigned char> headerWindow_;
    std::uint64_t headerWindowStart_ = 0;
    std::size_t headerWindowLength_ = 0;
    std::optional<std::pair<std::uint32_t, std::int64_t>> convertedTime_;  // DOS time, local time
};
