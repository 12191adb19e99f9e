#include "archive/UnzipFile.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <vector>

#include "archive/FileException.h"

// Compressed data is read this much at a time: few system calls, and the decompressor's
// fast path (which needs some input in hand) rarely stops at a piece's end.
constexpr std::size_t kInputPieceSize = 65536;

struct EntryReadState {
    unsigned char input[kInputPieceSize];
    z_stream stream{};
    bool streamInitialised = false;
    bool streamEnded = false;
    std::uint64_t dataPos = 0;  // archive-relative position of the next compressed byte
    std::uint64_t compressedLeft = 0;
    std::uint64_t uncompressedLeft = 0;
    uLong crc = 0;
    std::uint32_t expectedCrc = 0;
    std::uint32_t method = 0;
    std::uint64_t prefix = 0;
};

namespace {

constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kCentralRecordSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::uint64_t kEndSearchLimit = 65535;
constexpr std::uint64_t kEndSearchStep = 1024;
constexpr std::size_t kEndSearchWindow = 1028;
constexpr std::uint32_t kFlagDataDescriptor = 0x08;

constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::uint64_t kZip64EndRestSize = kZip64EndSize - 12;  // as its size field states
constexpr std::uint32_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kSaturated32 = 0xFFFFFFFF;
constexpr std::uint32_t kSaturated16 = 0xFFFF;
// Nothing in a real archive lies this far; larger offsets only come from damaged records.
constexpr std::uint64_t kMaxOffset = std::uint64_t{1} << 62;
constexpr std::size_t kHeaderWindowSize = 64 * 1024;

std::uint32_t Le16(const unsigned char* p) {
    return p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
}
std::uint32_t Le32(const unsigned char* p) {
    return Le16(p) | (Le16(p + 2) << 16);
}
std::uint64_t Le64(const unsigned char* p) {
    return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

// The data of the 64-bit extra field (id 1) among `extra`'s fields, or null.
const unsigned char* FindZip64Extra(const unsigned char* extra, std::size_t length,
                                    std::size_t* dataLength) {
    std::size_t pos = 0;
    while (pos + 4 <= length) {
        const std::uint32_t id = Le16(extra + pos);
        const std::size_t size = Le16(extra + pos + 2);
        if (pos + 4 + size > length) break;
        if (id == kZip64ExtraId) {
            *dataLength = size;
            return extra + pos + 4;
        }
        pos += 4 + size;
    }
    return nullptr;
}

// Takes the 64-bit values of the extra field for the fields whose 32-bit (or 16-bit) value
// is saturated, in the order the field stores them. A field without a saturated value keeps
// what it has. False when the extra field is too short for what it must hold.
struct WideField {
    std::uint64_t* Value;
    bool Saturated;
    std::size_t Width;
};
bool TakeZip64Values(const unsigned char* data, std::size_t length,
                     std::initializer_list<WideField> fields) {
    std::size_t pos = 0;
    for (const WideField& f : fields) {
        if (!f.Saturated) continue;
        if (pos + f.Width > length) return false;
        *f.Value = f.Width == 8 ? Le64(data + pos) : Le32(data + pos);
        pos += f.Width;
    }
    return true;
}

}  // namespace

std::int64_t DosDateTimeToLocalTime(std::uint32_t dosDateTime) {
    const std::uint32_t time = dosDateTime & 0xFFFF;
    const std::uint32_t date = dosDateTime >> 16;
    std::tm tm{};
    tm.tm_sec = static_cast<int>(2 * (time & 0x1F));
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_hour = static_cast<int>((time >> 11) & 0x1F);
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_year = static_cast<int>(1980 + ((date >> 9) & 0x7F)) - 1900;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

CUnzipFile::CUnzipFile() {
    file_ = &archiveFile_;
}

CUnzipFile::CUnzipFile(const std::string& path) : CUnzipFile() {
    Open(path);
}

CUnzipFile::~CUnzipFile() {
    DiscardEntry();
    if (archiveFile_.IsOpen()) {
        try {
            archiveFile_.Close();
        } catch (const CFileException&) {
        }
    }
}

void CUnzipFile::Open(const std::string& path) {
    if (!IsClosed()) return;
    if (!archiveFile_.Open(path, CFile::modeRead))
        throw CFileException(path, archiveFile_.LastError(), "open");
    try {
        LocateEndRecord();
        ReadEndRecord();
        MoveFirst();
    } catch (...) {
        // Leave nothing half-open: the object is as it was before.
        hasCurrentEntry_ = false;
        try {
            archiveFile_.Close();
        } catch (const CFileException&) {
        }
        throw;
    }
}

void CUnzipFile::Close() {
    if (IsClosed()) return;
    CloseEntry();
    hasCurrentEntry_ = false;
    archiveFile_.Close();
}

void CUnzipFile::ReadExactlyAt(std::uint64_t position, void* buffer, std::size_t size) {
    if (position > kMaxOffset) ThrowError(CZipException::kCodeBadArchive);
    // Whatever the header claims, a read that comes up short means the archive is cut.
    if (archiveFile_.ReadAt(position, buffer, size) != size)
        ThrowError(CZipException::kCodeBadArchive);
}

void CUnzipFile::ReadHeaderAt(std::uint64_t position, void* buffer, std::size_t size) {
    if (size > kHeaderWindowSize / 2) return ReadExactlyAt(position, buffer, size);
    if (position > kMaxOffset) ThrowError(CZipException::kCodeBadArchive);
    if (position < headerWindowStart_ ||
        position + size > headerWindowStart_ + headerWindowLength_) {
        headerWindow_.resize(kHeaderWindowSize);
        headerWindowStart_ = position;
        headerWindowLength_ =
            archiveFile_.ReadAt(position, headerWindow_.data(), kHeaderWindowSize);
        if (headerWindowLength_ < size) ThrowError(CZipException::kCodeBadArchive);
    }
    std::memcpy(buffer, headerWindow_.data() + (position - headerWindowStart_), size);
}

void CUnzipFile::LocateEndRecord() {
    const std::uint64_t fileSize = archiveFile_.GetLength();
    const std::uint64_t limit = std::min(kEndSearchLimit, fileSize);
    std::vector<unsigned char> window(kEndSearchWindow);
    std::uint64_t back = 4;
    while (back < limit) {
        back = std::min(back + kEndSearchStep, limit);
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(kEndSearchWindow, back));
        ReadExactlyAt(fileSize - back, window.data(), length);
        for (std::size_t i = length - 4 + 1; i-- > 0;) {
            if (window[i] == 'P' && window[i + 1] == 'K' && window[i + 2] == 5 &&
                window[i + 3] == 6) {
                endRecordPos_ = fileSize - back + i;
                return;
            }
        }
    }
    ThrowError(CZipException::kCodeBadArchive);
}

void CUnzipFile::ReadEndRecord() {
    unsigned char record[kEndRecordSize];
    ReadExactlyAt(endRecordPos_, record, sizeof record);
    const std::uint32_t thisDisk = Le16(record + 4);
    const std::uint32_t centralDisk = Le16(record + 6);
    const std::uint32_t entriesHere = Le16(record + 8);
    const std::uint32_t entriesTotal = Le16(record + 10);
    centralDirSize_ = Le32(record + 12);
    centralDirOffset_ = Le32(record + 16);
    commentLength_ = Le16(record + 20);
    if (ReadZip64EndRecord()) return;
    TakeEndRecord(endRecordPos_, thisDisk, centralDisk, entriesHere, entriesTotal);
}

// Checks an end record's fields (the central directory's size and offset already taken) and
// finds the data before the archive: the directory ends where the record at `recordPos` begins.
void CUnzipFile::TakeEndRecord(std::uint64_t recordPos, std::uint32_t thisDisk,
                               std::uint32_t centralDisk, std::uint64_t entriesHere,
                               std::uint64_t entriesTotal) {
    if (thisDisk != 0 || centralDisk != 0 || entriesHere != entriesTotal ||
        centralDirSize_ > kMaxOffset || centralDirOffset_ > kMaxOffset)
        ThrowError(CZipException::kCodeBadArchive);
    const std::uint64_t centralEnd = centralDirOffset_ + centralDirSize_;
    if (recordPos < centralEnd) ThrowError(CZipException::kCodeBadArchive);
    entryCount_ = entriesTotal;
    prefixBytes_ = recordPos - centralEnd;
}

// An archive with 64-bit records has a locator right before its end record, pointing at the
// 64-bit end record that follows the central directory. False when there is no locator.
bool CUnzipFile::ReadZip64EndRecord() {
    if (endRecordPos_ < kZip64LocatorSize) return false;
    const std::uint64_t locatorPos = endRecordPos_ - kZip64LocatorSize;
    unsigned char locator[kZip64LocatorSize];
    ReadExactlyAt(locatorPos, locator, sizeof locator);
    if (Le32(locator) != kZip64LocatorSignature) return false;
    const std::uint32_t recordDisk = Le32(locator + 4);
    const std::uint64_t statedPos = Le64(locator + 8);
    const std::uint32_t disks = Le32(locator + 16);
    if (recordDisk != 0 || disks > 1) ThrowError(CZipException::kCodeBadArchive);

    // The record normally ends where the locator begins; found there, its position also tells
    // how much data precedes the archive (the stated position leaves that out).
    unsigned char record[kZip64EndSize];
    std::uint64_t recordPos = 0;
    bool found = false;
    if (locatorPos >= kZip64EndSize) {
        ReadExactlyAt(locatorPos - kZip64EndSize, record, sizeof record);
        found = Le32(record) == kZip64EndSignature && Le64(record + 4) == kZip64EndRestSize;
        if (found) recordPos = locatorPos - kZip64EndSize;
    }
    if (!found) {
        if (statedPos > locatorPos || locatorPos - statedPos < kZip64EndSize)
            ThrowError(CZipException::kCodeBadArchive);
        ReadExactlyAt(statedPos, record, sizeof record);
        if (Le32(record) != kZip64EndSignature) ThrowError(CZipException::kCodeBadArchive);
        recordPos = statedPos;
    }
    centralDirSize_ = Le64(record + 40);
    centralDirOffset_ = Le64(record + 48);
    TakeEndRecord(recordPos, Le32(record + 16), Le32(record + 20), Le64(record + 24),
                  Le64(record + 32));
    zip64_ = true;
    return true;
}

void CUnzipFile::ReadCentralRecord() {
    unsigned char record[kCentralRecordSize];
    ReadHeaderAt(entryRecordPos_ + prefixBytes_, record, sizeof record);
    if (Le32(record) != kCentralSignature) ThrowError(CZipException::kCodeBadArchive);
    EntryInfo info;
    info.VersionMadeBy = Le16(record + 4);
    info.VersionNeeded = Le16(record + 6);
    info.Flags = Le16(record + 8);
    info.Method = Le16(record + 10);
    info.DosDateTime = Le32(record + 12);
    info.Crc32 = Le32(record + 16);
    info.CompressedSize = Le32(record + 20);
    info.UncompressedSize = Le32(record + 24);
    info.NameLength = Le16(record + 28);
    info.ExtraLength = Le16(record + 30);
    info.CommentLength = Le16(record + 32);
    info.DiskNumberStart = Le16(record + 34);
    info.InternalAttributes = Le16(record + 36);
    info.ExternalAttributes = Le32(record + 38);
    std::uint64_t localHeaderOffset = Le32(record + 42);
    std::uint64_t diskStart = info.DiskNumberStart;

    // Saturated fields hold their real values in the 64-bit extra field. Without one, the
    // values stand as stored (a 32-bit archive may hold a file of 4 GiB minus one byte).
    const bool wideUncompressed = info.UncompressedSize == kSaturated32;
    const bool wideCompressed = info.CompressedSize == kSaturated32;
    const bool wideOffset = localHeaderOffset == kSaturated32;
    const bool wideDisk = diskStart == kSaturated16;
    if ((wideUncompressed || wideCompressed || wideOffset || wideDisk) && info.ExtraLength > 0) {
        std::vector<unsigned char> extra(info.ExtraLength);
        ReadHeaderAt(entryRecordPos_ + prefixBytes_ + kCentralRecordSize + info.NameLength,
                     extra.data(), extra.size());
        std::size_t length = 0;
        if (const unsigned char* data = FindZip64Extra(extra.data(), extra.size(), &length)) {
            if (!TakeZip64Values(data, length,
                                 {{&info.UncompressedSize, wideUncompressed, 8},
                                  {&info.CompressedSize, wideCompressed, 8},
                                  {&localHeaderOffset, wideOffset, 8},
                                  {&diskStart, wideDisk, 4}}))
                ThrowError(CZipException::kCodeBadArchive);
            info.DiskNumberStart = static_cast<std::uint32_t>(diskStart);
        }
    }
    currentInfo_ = info;
    currentLocalHeaderOffset_ = localHeaderOffset;
}

void CUnzipFile::MoveFirst() {
    if (IsClosed()) ThrowError(CZipException::kCodeNoEntry);
    entryRecordPos_ = centralDirOffset_;
    entryIndex_ = 0;
    ReadCentralRecord();
    hasCurrentEntry_ = true;
}

bool CUnzipFile::MoveNext() {
    if (!hasCurrentEntry_ || entryIndex_ + 1 >= entryCount_) return false;
    entryRecordPos_ += kCentralRecordSize + currentInfo_.NameLength + currentInfo_.ExtraLength +
                       currentInfo_.CommentLength;
    ++entryIndex_;
    ReadCentralRecord();
    hasCurrentEntry_ = true;
    return true;
}

void CUnzipFile::GetEntryInfo(EntryInfo* info, char* name, std::size_t nameSize) {
    if (!hasCurrentEntry_ || IsClosed()) ThrowError(CZipException::kCodeNoEntry);
    ReadCentralRecord();
    if (info) {
        *info = currentInfo_;
        info->ModificationTime = LocalTimeOf(info->DosDateTime);
    }
    if (name && nameSize > 0) {
        const std::size_t copy = std::min<std::size_t>(nameSize, currentInfo_.NameLength);
        ReadHeaderAt(entryRecordPos_ + prefixBytes_ + kCentralRecordSize, name, copy);
        if (nameSize > currentInfo_.NameLength) name[currentInfo_.NameLength] = '\0';
    }
}

std::string CUnzipFile::GetEntryName() {
    if (!hasCurrentEntry_ || IsClosed()) ThrowError(CZipException::kCodeNoEntry);
    ReadCentralRecord();
    std::string name(currentInfo_.NameLength, '\0');
    if (!name.empty())
        ReadHeaderAt(entryRecordPos_ + prefixBytes_ + kCentralRecordSize, name.data(), name.size());
    return name;
}

// mktime looks at the time zone file on every call (a file system look-up each): entries are
// converted only when their details are asked for, and a time the previous entry had is
// not converted again.
std::int64_t CUnzipFile::LocalTimeOf(std::uint32_t dosDateTime) {
    if (!convertedTime_ || convertedTime_->first != dosDateTime)
        convertedTime_.emplace(dosDateTime, DosDateTimeToLocalTime(dosDateTime));
    return convertedTime_->second;
}

void CUnzipFile::OpenEntry() {
    if (!hasCurrentEntry_ || IsClosed()) ThrowError(CZipException::kCodeNoEntry);
    CloseEntry();

    if (currentLocalHeaderOffset_ > kMaxOffset) ThrowError(CZipException::kCodeBadArchive);
    const std::uint64_t headerPos = currentLocalHeaderOffset_ + prefixBytes_;
    unsigned char header[kLocalHeaderSize];
    ReadExactlyAt(headerPos, header, sizeof header);
    const std::uint32_t flags = Le16(header + 6);
    const std::uint32_t method = Le16(header + 8);
    const std::uint32_t localExtra = Le16(header + 28);
    const bool sizesTrailing = (flags & kFlagDataDescriptor) != 0;
    std::uint64_t localCompressed = Le32(header + 18);
    std::uint64_t localUncompressed = Le32(header + 22);
    // Saturated local sizes of a 64-bit entry are in the local header's own extra field.
    const bool wideCompressed =
        localCompressed == kSaturated32 && currentInfo_.CompressedSize != kSaturated32;
    const bool wideUncompressed =
        localUncompressed == kSaturated32 && currentInfo_.UncompressedSize != kSaturated32;
    if (!sizesTrailing && (wideCompressed || wideUncompressed) && localExtra > 0 &&
        Le16(header + 26) == currentInfo_.NameLength) {
        std::vector<unsigned char> extra(localExtra);
        ReadExactlyAt(headerPos + kLocalHeaderSize + currentInfo_.NameLength, extra.data(),
                      extra.size());
        std::size_t length = 0;
        if (const unsigned char* data = FindZip64Extra(extra.data(), extra.size(), &length)) {
            if (!TakeZip64Values(data, length,
                                 {{&localUncompressed, localUncompressed == kSaturated32, 8},
                                  {&localCompressed, localCompressed == kSaturated32, 8}}))
                ThrowError(CZipException::kCodeBadArchive);
        }
    }
    const bool bad = Le32(header) != kLocalSignature || method != currentInfo_.Method ||
                     (currentInfo_.Method != 0 && currentInfo_.Method != Z_DEFLATED) ||
                     (!sizesTrailing && (Le32(header + 14) != currentInfo_.Crc32 ||
                                         localCompressed != currentInfo_.CompressedSize ||
                                         localUncompressed != currentInfo_.UncompressedSize)) ||
                     Le16(header + 26) != currentInfo_.NameLength;
    if (bad) ThrowError(CZipException::kCodeBadArchive);

    auto state = std::make_unique<EntryReadState>();
    state->expectedCrc = currentInfo_.Crc32;
    state->method = currentInfo_.Method;
    state->compressedLeft = currentInfo_.CompressedSize;
    state->uncompressedLeft = currentInfo_.UncompressedSize;
    state->dataPos =
        currentLocalHeaderOffset_ + kLocalHeaderSize + currentInfo_.NameLength + localExtra;
    state->prefix = prefixBytes_;
    state->crc = crc32(0L, Z_NULL, 0);
    if (state->method == Z_DEFLATED) {
        state->stream.zalloc = &CZUBaseFile::ZAlloc;
        state->stream.zfree = &CZUBaseFile::ZFree;
        state->stream.opaque = this;
        const int result = inflateInit2(&state->stream, -MAX_WBITS);
        if (result != Z_OK) CheckZlibResult(result);
        state->streamInitialised = true;
    }
    readState_ = std::move(state);
}

std::size_t CUnzipFile::ReadEntry(void* buffer, std::size_t size) {
    if (!readState_) ThrowError(CZipException::kCodeNoEntry);
    if (size == 0 || buffer == nullptr) return 0;
    EntryReadState& s = *readState_;
    // A stream that ended before its stated size was reached is not a complete entry.
    if (s.streamEnded && s.uncompressedLeft != 0) ThrowError(CZipException::kCodeBadArchive);

    const auto room = static_cast<uInt>(std::min<std::uint64_t>(
        {static_cast<std::uint64_t>(size), s.uncompressedLeft, std::uint64_t{UINT_MAX}}));
    s.stream.next_out = static_cast<Bytef*>(buffer);
    s.stream.avail_out = room;
    std::size_t delivered = 0;
    while (s.stream.avail_out > 0) {
        if (s.stream.avail_in == 0 && s.compressedLeft > 0) {
            const auto chunk = static_cast<std::size_t>(
                std::min<std::uint64_t>(kInputPieceSize, s.compressedLeft));
            ReadExactlyAt(s.dataPos + s.prefix, s.input, chunk);
            s.dataPos += chunk;
            s.compressedLeft -= chunk;
            s.stream.next_in = s.input;
            s.stream.avail_in = static_cast<uInt>(chunk);
        }
        Bytef* const out = s.stream.next_out;
        uInt produced = 0;
        int result = Z_OK;
        if (s.method == 0) {
            // Stored data that ends before its stated size: nothing more will ever come.
            if (s.stream.avail_in == 0) ThrowError(CZipException::kCodeBadArchive);
            produced = std::min(s.stream.avail_out, s.stream.avail_in);
            std::memcpy(out, s.stream.next_in, produced);
            s.stream.next_in += produced;
            s.stream.avail_in -= produced;
            s.stream.next_out += produced;
            s.stream.avail_out -= produced;
        } else {
            result = inflate(&s.stream, Z_SYNC_FLUSH);
            produced = static_cast<uInt>(s.stream.next_out - out);
        }
        s.crc = crc32(s.crc, out, produced);
        s.uncompressedLeft -= produced;
        delivered += produced;
        if (result == Z_STREAM_END) {
            s.streamEnded = true;
            return delivered;
        }
        // Raw inflate never asks for a dictionary; asking anyway would stall this loop.
        if (result == Z_NEED_DICT) ThrowError(result);
        CheckZlibResult(result);
    }
    return delivered;
}

void CUnzipFile::CloseEntry() {
    if (!readState_) return;
    std::unique_ptr<EntryReadState> state = std::move(readState_);
    if (state->streamInitialised) inflateEnd(&state->stream);
    if (state->uncompressedLeft == 0 && state->crc != state->expectedCrc)
        ThrowError(CZipException::kCodeBadCrc);
    if (state->streamEnded && state->uncompressedLeft != 0)
        ThrowError(CZipException::kCodeBadArchive);
}

void CUnzipFile::DiscardEntry() noexcept {
    if (!readState_) return;
    if (readState_->streamInitialised) inflateEnd(&readState_->stream);
    readState_.reset();
}
