#include "patch/GameRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "archive/UnpackFile.h"
#include "archive/UnzipFile.h"
#include "archive/ZipEndRecords.h"
#include "patch/RepositoryFetcher.h"
#include "patch/RepositoryVerifier.h"
#include "platform/DownloadSink.h"
#include "platform/FileContents.h"

namespace fs = std::filesystem;

namespace {

// A packed archive whose own manifest cannot be had is still bounded.
constexpr std::uint64_t kMaxUnsignedArchiveBytes = std::uint64_t{64} << 30;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCopyPiece = 256 * 1024;

// Writes `bytes` at `offset` of the file at `path` (made when missing).
bool WriteAt(const fs::path& path, std::uint64_t offset, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0;
}

// Moves `zip` to the entry the manifest names (its own spelling, else any letter case).
bool FindEntry(CUnzipFile& zip, const std::string& entry) {
    const std::string key = ManifestKey(entry);
    zip.MoveFirst();
    do {
        if (ManifestKey(zip.GetEntryName()) == key) return true;
    } while (zip.MoveNext());
    return false;
}

}  // namespace

GameRepair::GameRepair(const GamePath& game, RepositoryFetcher& fetcher,
                       RepositoryVerifier& verifier)
    : game_(game),
      fetcher_(fetcher),
      verifier_(verifier),
      scratch_(game.Root() / "Temp" / "repair") {}

GameRepair::~GameRepair() {
    std::error_code ec;
    fs::remove_all(scratch_, ec);
    fs::remove(scratch_.parent_path(), ec);  // "Temp" only when it is empty
}

bool GameRepair::Fail(std::string why) {
    failure_ = std::move(why);
    return false;
}

fs::path GameRepair::Scratch(const std::string& name) {
    std::error_code ec;
    fs::create_directories(scratch_, ec);
    return scratch_ / (std::to_string(++scratchCounter_) + "-" + name);
}

bool GameRepair::Repair(const ManifestFile& file) {
    failure_.clear();
    switch (file.Kind) {
        case FileSourceKind::Plain: {
            const fs::path copy = Scratch(fs::path(file.Location).filename().string());
            if (!fetcher_.Fetch(file.Location, copy, file.Size)) return Fail(fetcher_.Failure());
            return Install(file, copy);
        }
        case FileSourceKind::Compressed:
            return RepairCompressed(file);
        case FileSourceKind::Packed:
            return RepairPacked(file);
        case FileSourceKind::None:
            break;
    }
    return Fail(file.Path + ": the manifest names no source for it");
}

bool GameRepair::Install(const ManifestFile& file, const fs::path& source) {
    const auto target = game_.Resolve(file.Path);
    if (!target) return Fail(file.Path + ": not a safe game path");
    std::error_code ec;
    if (!game_.CreateDirectories(target->parent_path(), ec))
        return Fail("cannot make " + target->parent_path().string() + ": " + ec.message());
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(source.c_str(), "rb"), std::fclose);
    if (!in) return Fail("cannot read " + source.string() + ": " + std::strerror(errno));

    DownloadSink sink(*target);
    DownloadExpectation expected;
    expected.Size = file.Size;
    expected.Digest = file.Digest;
    sink.Expect(expected);
    // A damaged file keeps its permissions (a game's start script its execute bits).
    struct stat st {};
    if (::stat(target->c_str(), &st) == 0 && S_ISREG(st.st_mode)) sink.SetMode(st.st_mode & 0777);
    if (!sink.Open()) return Fail(sink.Failure());
    std::vector<char> buffer(kCopyPiece);
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (got > 0 && !sink.Write(buffer.data(), got))
            return Fail(file.Path + " as fetched: " + sink.Failure());
        if (got < buffer.size()) break;
    }
    if (std::ferror(in.get())) return Fail("cannot read " + source.string());
    if (!sink.Commit()) return Fail(file.Path + " as fetched: " + sink.Failure());
    game_.NoteCreated(*target);
    return true;
}

bool GameRepair::RepairCompressed(const ManifestFile& file) {
    const std::string name = fs::path(file.Location).filename().string();
    const fs::path stored = Scratch(name);
    if (!fetcher_.Fetch(file.Location, stored, file.StoredSize)) return Fail(fetcher_.Failure());
    const auto digest = Sha256OfFile(stored);
    if (!digest || digest->Size != file.StoredSize || digest->Digest != file.StoredDigest)
        return Fail(fetcher_.Describe(file.Location) + " differs from the signed manifest");
    // Restored into a folder of its own: the restorer names its output after the source.
    const fs::path out = Scratch("restored");
    std::error_code ec;
    fs::create_directories(out, ec);
    UnpackControl control;
    control.PumpOneEvent = [] {};
    const std::string outDirectory = out.string() + "/";
    if (UnpackFile(control, stored.string(), outDirectory) != 1)
        return Fail("cannot restore " + fetcher_.Describe(file.Location));
    return Install(file, UnpackedFilePath(stored.string(), outDirectory));
}

std::optional<StoredFile> GameRepair::ArchiveRecord(const std::string& location) {
    const auto& current = verifier_.CurrentManifest();
    if (current && current->Archive && current->Archive->Location == location)
        return current->Archive;
    // Another version's archive: its size and hash are in that version's manifest.
    const std::string label = location.substr(0, location.find('/'));
    auto known = otherManifests_.find(label);
    if (known == otherManifests_.end()) {
        const fs::path copy = Scratch(label + "-manifest.txt");
        const std::string remote = label + "/" + kManifestName;
        if (!fetcher_.Fetch(remote, copy, RepositoryVerifier::kMaxManifestBytes)) {
            failure_ = fetcher_.Failure();
            return std::nullopt;
        }
        auto manifest = verifier_.ReadManifest(label, copy);
        if (!manifest) {
            failure_ = verifier_.Failure();
            return std::nullopt;
        }
        known = otherManifests_.emplace(label, std::move(*manifest)).first;
    }
    if (!known->second.Archive || known->second.Archive->Location != location) {
        failure_ = "the manifest of version " + label + " names no archive " + location;
        return std::nullopt;
    }
    return known->second.Archive;
}

std::optional<GameRepair::ArchiveCopy> GameRepair::SparseArchive(const std::string& location,
                                                                 const StoredFile& record) {
    // The end records first (the plain case, then room for a comment), then the directory.
    ArchiveCopy copy{Scratch("sparse.zip"), true, record.Size};
    std::optional<ZipDirectoryLocation> directory;
    std::string tail;
    for (std::uint64_t want : {kZipPlainTailBytes, kZipLongestTailBytes}) {
        const std::uint64_t length = std::min(want, record.Size);
        const fs::path part = Scratch("tail");
        if (!fetcher_.FetchRange(location, part, record.Size - length, length)) {
            failure_ = fetcher_.Failure();
            return std::nullopt;
        }
        tail = ReadFileContents(part, length).value_or("");
        directory = FindCentralDirectory(tail, record.Size);
        if (directory || length == record.Size) break;
    }
    if (!directory) {
        failure_ = fetcher_.Describe(location) + ": no end record of an archive in its last bytes";
        return std::nullopt;
    }
    const fs::path part = Scratch("directory");
    if (directory->Size > 0 &&
        !fetcher_.FetchRange(location, part, directory->Offset, directory->Size)) {
        failure_ = fetcher_.Failure();
        return std::nullopt;
    }
    const std::string central =
        directory->Size > 0 ? ReadFileContents(part, directory->Size).value_or("") : "";
    // A file of the archive's size with holes where nothing was fetched: the archive reader
    // reads only the end records, the directory and the entries asked for.
    const int fd = ::open(copy.Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool sized = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(record.Size)) == 0;
    if (fd >= 0) ::close(fd);
    if (!sized || central.size() != directory->Size ||
        !WriteAt(copy.Path, record.Size - tail.size(), tail) ||
        !WriteAt(copy.Path, directory->Offset, central)) {
        failure_ = "cannot write " + copy.Path.string();
        return std::nullopt;
    }
    return copy;
}

std::optional<GameRepair::ArchiveCopy> GameRepair::WholeArchive(const std::string& location,
                                                                const StoredFile& record) {
    ArchiveCopy copy{Scratch("whole.zip"), false, record.Size};
    if (!fetcher_.Fetch(location, copy.Path, record.Size)) {
        failure_ = fetcher_.Failure();
        return std::nullopt;
    }
    const auto digest = Sha256OfFile(copy.Path);
    if (!digest || digest->Size != record.Size || digest->Digest != record.Digest) {
        failure_ = fetcher_.Describe(location) + " differs from its signed manifest";
        return std::nullopt;
    }
    return copy;
}

bool GameRepair::FetchEntryBytes(const std::string& location, ArchiveCopy& copy,
                                 std::uint64_t headerOffset, std::uint64_t compressedSize) {
    // The local header first: its own extra field decides where the data starts.
    const fs::path part = Scratch("entry");
    if (headerOffset + kLocalHeaderSize > copy.Size ||
        !fetcher_.FetchRange(location, part, headerOffset, kLocalHeaderSize))
        return Fail(fetcher_.Failure());
    const std::string header = ReadFileContents(part, kLocalHeaderSize).value_or("");
    if (header.size() != kLocalHeaderSize || !WriteAt(copy.Path, headerOffset, header))
        return Fail("cannot write " + copy.Path.string());
    auto le16 = [&](std::size_t at) {
        return static_cast<std::uint64_t>(static_cast<unsigned char>(header[at])) |
               static_cast<std::uint64_t>(static_cast<unsigned char>(header[at + 1])) << 8;
    };
    const std::uint64_t start = headerOffset + kLocalHeaderSize;
    const std::uint64_t length = le16(26) + le16(28) + compressedSize;
    if (start > copy.Size || length > copy.Size - start)
        return Fail(fetcher_.Describe(location) + ": an entry reaches past the archive's end");
    if (length == 0) return true;
    if (!fetcher_.FetchRange(location, part, start, length)) return Fail(fetcher_.Failure());
    const auto body = ReadFileContents(part, length);
    if (!body || body->size() != length || !WriteAt(copy.Path, start, *body))
        return Fail("cannot write " + copy.Path.string());
    return true;
}

bool GameRepair::RepairPacked(const ManifestFile& file) {
    const auto record = ArchiveRecord(file.Location);
    if (!record) return false;
    auto known = archives_.find(file.Location);
    if (known == archives_.end()) {
        auto copy = SparseArchive(file.Location, *record);
        if (!copy && fetcher_.RangesRefused()) copy = WholeArchive(file.Location, *record);
        if (!copy) return false;
        known = archives_.emplace(file.Location, std::move(*copy)).first;
    }
    ArchiveCopy& copy = known->second;
    const fs::path extracted = Scratch(fs::path(file.Path).filename().string());
    try {
        CUnzipFile zip(copy.Path.string());
        if (!FindEntry(zip, file.Entry))
            return Fail(fetcher_.Describe(file.Location) + " holds no entry " + file.Entry);
        EntryInfo info;
        zip.GetEntryInfo(&info);
        if (copy.Sparse && !FetchEntryBytes(file.Location, copy, zip.CurrentEntryHeaderOffset(),
                                            info.CompressedSize))
            return false;
        CFile output;
        if (!output.Open(extracted.string(), CFile::modeCreate))
            return Fail("cannot write " + extracted.string());
        zip.OpenEntry();
        std::vector<char> buffer(kCopyPiece);
        std::uint64_t written = 0;
        for (;;) {
            const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
            // Never more than the manifest's size: an entry that inflates beyond it is refused
            // before it fills the disk.
            written += got;
            if (written > file.Size)
                return Fail(file.Path + ": the archive's entry is larger than the manifest says");
            if (got > 0) output.Write(buffer.data(), got);
            if (got < buffer.size()) break;
        }
        zip.CloseEntry();  // checks the CRC
        output.Close();
        if (!Install(file, extracted)) return false;
        const auto target = game_.Resolve(file.Path);
        if (target) CUnzipFile::ApplyEntryStatus(target->string(), info);
        return true;
    } catch (const std::exception& error) {
        return Fail(fetcher_.Describe(file.Location) + ": entry " + file.Entry + ": " +
                    error.what());
    }
}
