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
            if (!fetcher_.Fetch(file.Location, copy,
                                DownloadExpectation::Exactly(file.Size, file.Digest)))
                return Fail(fetcher_.Failure());
            return PlaceFetched(file, copy);
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

std::optional<fs::path> GameRepair::InstallTarget(const ManifestFile& file) {
    const auto target = game_.Resolve(file.Path);
    if (!target) {
        Fail(file.Path + ": not a safe game path");
        return std::nullopt;
    }
    std::error_code ec;
    if (!game_.CreateDirectories(target->parent_path(), ec)) {
        Fail("cannot make " + target->parent_path().string() + ": " + ec.message());
        return std::nullopt;
    }
    return target;
}

std::unique_ptr<DownloadSink> GameRepair::OpenInstall(const ManifestFile& file) {
    const auto target = InstallTarget(file);
    if (!target) return nullptr;
    auto sink = std::make_unique<DownloadSink>(*target);
    sink->Expect(DownloadExpectation::Exactly(file.Size, file.Digest));
    // A damaged file keeps its permissions (a game's start script its execute bits).
    struct stat st {};
    if (::stat(target->c_str(), &st) == 0 && S_ISREG(st.st_mode)) sink->SetMode(st.st_mode & 0777);
    if (!sink->Open()) {
        Fail(sink->Failure());
        return nullptr;
    }
    return sink;
}

bool GameRepair::FinishInstall(const ManifestFile& file, DownloadSink& sink) {
    if (!sink.Commit()) return Fail(file.Path + " as fetched: " + sink.Failure());
    game_.NoteCreated(sink.Target());
    return true;
}

bool GameRepair::PlaceFetched(const ManifestFile& file, const fs::path& copy) {
    const auto target = InstallTarget(file);
    if (!target) return false;
    // The copy was checked as it arrived; it takes the damaged file's permissions and reaches
    // the disk before it replaces that file, like any file a sink installs.
    struct stat st {};
    const mode_t mode =
        ::stat(target->c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & 0777 : 0644;
    const int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    const bool durable = fd >= 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!durable) return Fail("cannot flush " + copy.string() + ": " + std::strerror(error));
    std::string failure;
    if (!DownloadSink::CommitFile(copy, *target, failure)) return Fail(failure);
    game_.NoteCreated(*target);
    return true;
}

bool GameRepair::RepairCompressed(const ManifestFile& file) {
    const std::string name = fs::path(file.Location).filename().string();
    const fs::path stored = Scratch(name);
    if (!fetcher_.Fetch(file.Location, stored,
                        DownloadExpectation::Exactly(file.StoredSize, file.StoredDigest)))
        return Fail(fetcher_.Failure());
    // Restored straight into the game's copy, checked as it is written.
    auto sink = OpenInstall(file);
    if (!sink) return false;
    UnpackControl control;
    control.PumpOneEvent = [] {};
    if (UnpackFileTo(control, stored.string(), *sink) != 1)
        return Fail(sink->Failure().empty() ? "cannot restore " + fetcher_.Describe(file.Location)
                                            : file.Path + " as restored: " + sink->Failure());
    return FinishInstall(file, *sink);
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
        if (!fetcher_.Fetch(remote, copy,
                            DownloadExpectation::AtMost(RepositoryVerifier::kMaxManifestBytes))) {
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
    if (!fetcher_.Fetch(location, copy.Path,
                        DownloadExpectation::Exactly(record.Size, record.Digest))) {
        failure_ = fetcher_.Failure();
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
    try {
        CUnzipFile zip(copy.Path.string());
        if (!FindEntry(zip, file.Entry))
            return Fail(fetcher_.Describe(file.Location) + " holds no entry " + file.Entry);
        EntryInfo info;
        zip.GetEntryInfo(&info);
        if (copy.Sparse && !FetchEntryBytes(file.Location, copy, zip.CurrentEntryHeaderOffset(),
                                            info.CompressedSize))
            return false;
        // Inflated straight into the game's copy: never more than the manifest's size (an
        // entry that inflates beyond it is refused before it fills the disk) and hashed as it
        // is written.
        auto output = OpenInstall(file);
        if (!output) return false;
        zip.OpenEntry();
        std::vector<char> buffer(kCopyPiece);
        for (;;) {
            const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
            if (got > 0 && !output->Write(buffer.data(), got))
                return Fail(file.Path + ": the archive's entry differs from the manifest (" +
                            output->Failure() + ")");
            if (got < buffer.size()) break;
        }
        zip.CloseEntry();  // checks the CRC
        if (!FinishInstall(file, *output)) return false;
        const auto target = game_.Resolve(file.Path);
        if (target) CUnzipFile::ApplyEntryStatus(target->string(), info);
        return true;
    } catch (const std::exception& error) {
        return Fail(fetcher_.Describe(file.Location) + ": entry " + file.Entry + ": " +
                    error.what());
    }
}
