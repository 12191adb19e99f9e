// The packed half of PatchEngine's installation: "up_list.zip" decompressed whole into
// "Temp" (every entry's CRC checked), the list's deletions, then each decompressed file committed
// over its place in the game directory, with the launcher's own files and config.ini under
// substitute names. The archive is decompressed once: checking it and installing it is the same
// pass.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/UnzipFile.h"
#include "archive/ZipException.h"
#include "patch/PatchEngine.h"
#include "patch/RepositoryVerifier.h"
#include "platform/AtomicFile.h"
#include "platform/DownloadSink.h"
#include "text/MessageNumbers.h"

namespace {

constexpr const char* kConfigSubstitute = "config._ni";

// "%s파일을 열수가 없습니다" ("cannot open the file %s"), in the deployment code page (CP949).
const std::string kCannotOpenSuffix =
    "\xC6\xC4\xC0\xCF\xC0\xBB \xBF\xAD\xBC\xF6\xB0\xA1 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9";

std::string BackSlashed(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// Entries are copied through this much at a time: large enough that a big file costs few
// system calls, small enough to stay in the cache.
constexpr std::size_t kCopyPiece = 256 * 1024;

// Where entry `index` of the archive is decompressed to before it is moved into place.
std::filesystem::path StagedEntryPath(const std::filesystem::path& staging, std::uint64_t index) {
    return staging / std::to_string(index);
}

// Thrown when the stop flag ends an unpack.
struct UnpackStopped {};

// Decompressing threads of one unpack at most: more would only compete for the disk.
constexpr unsigned kMostUnpackers = 4;

// How one unpacking thread ended.
struct UnpackerResult {
    bool Failed = false;
    std::uint64_t Entry = 0;  // the entry it failed on
    std::string What;
};

// Decompresses the current entry of `zip` into its staged file, calling `keepGoing` between
// pieces (false: stop, UnpackStopped is thrown). Throws with the reason on any failure.
void StageEntry(CUnzipFile& zip, const std::filesystem::path& staging, std::vector<char>& buffer,
                const std::function<bool()>& keepGoing) {
    EntryInfo info;
    zip.GetEntryInfo(&info);
    DownloadSink output(StagedEntryPath(staging, zip.EntryIndex()));
    // The disk starts on this file while the next one is decompressed: the flush before
    // config.ini then finds little left to wait for.
    output.SetWriteBackStarted();
    // Stamped through the open file: no look-ups of it by name afterwards.
    output.SetMode(CUnzipFile::EntryFileMode(0644, info));
    output.SetModificationTime(info.ModificationTime);
    if (!output.Open()) throw std::runtime_error(output.Failure());
    zip.OpenEntry();
    for (;;) {
        const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
        if (got > 0 && !output.Write(buffer.data(), got))
            throw std::runtime_error(output.Failure());
        if (!keepGoing()) throw UnpackStopped{};
        if (got < buffer.size()) break;
    }
    zip.CloseEntry();
    if (!output.Commit()) throw std::runtime_error(output.Failure());
}

// The current entry's name as the game directory gets it (back-slashed, substitutes applied);
// `directory` says whether it is a directory entry, for which nothing is written.
std::string EntryGameName(CUnzipFile& zip, bool& directory) {
    const std::string name = BackSlashed(zip.GetEntryName());
    directory = !name.empty() && name.back() == '\\';
    return PatchEngine::SubstituteName(name, true).value_or(name);
}

}  // namespace

std::optional<std::filesystem::path> PatchEngine::StagingDirectory() const {
    const auto temp = Resolve(kTempDirectory);
    if (!temp) return std::nullopt;
    return *temp / kStagingDirectoryName;
}

void PatchEngine::RemoveStagedFiles() const {
    if (const auto staging = StagingDirectory()) {
        std::error_code ec;
        std::filesystem::remove_all(*staging, ec);
    }
}

std::optional<PatchEngine::ArchivePaths> PatchEngine::ResolveArchivePaths(
    std::string_view archivePath) {
    const auto archive = Resolve(archivePath);
    const auto staging = StagingDirectory();
    if (!archive || !staging) {
        host_.SetStatusText(kMsgPatchFailed);
        return std::nullopt;
    }
    return ArchivePaths{*archive, *staging};
}

bool PatchEngine::GiveUpArchive(std::string_view archivePath) const {
    RemoveStagedFiles();
    RemoveGameFile(archivePath);
    return false;
}

bool PatchEngine::StagePatchArchive(std::string_view archivePath, const StopCheck& stopRequested) {
    host_.SetStatusText(kMsgUnpacking);
    const auto paths = ResolveArchivePaths(archivePath);
    if (!paths) return false;
    // Named references, not a structured binding: the unpacking threads' lambdas capture them.
    const std::filesystem::path& archive = paths->Archive;
    const std::filesystem::path& staging = paths->Staging;
    const auto giveUp = [&] { return GiveUpArchive(archivePath); };
    // What an earlier run left half-staged is of no use: entries are staged again whole.
    RemoveStagedFiles();
    std::error_code ec;
    std::filesystem::create_directories(staging, ec);
    if (ec) {
        ReportFailure("cannot make the unpacking directory", staging, ec.value());
        host_.SetStatusText(kMsgPatchFailed);
        return giveUp();
    }
    try {
        CUnzipFile zip(archive.string());

        // Every name is checked before anything is written, so a hostile archive costs no
        // more than its download. Nothing is kept from this pass: memory stays the same
        // whatever the number of entries.
        bool directory = false;
        zip.MoveFirst();
        do {
            const std::string name = EntryGameName(zip, directory);
            if (!directory && !GamePath::IsSafe(name)) {
                const std::string shown = (gameDirectory_.Root() / "").string() + name;
                ReportFailure("the patch archive names an unusable path \"" + name + "\"", archive,
                              EINVAL);
                host_.ShowMessageBox(shown + kCannotOpenSuffix, "Error", MessageBoxIcon::Stop);
                host_.CloseMainWindow();
                return giveUp();
            }
        } while (zip.MoveNext());

        zip.Close();
    } catch (const std::exception& error) {
        ReportFailure(std::string("cannot unpack the patch archive (") + error.what() + ")",
                      archive);
        host_.SetStatusText(kMsgPatchFailed);
        return giveUp();
    }

    // Each file entry is decompressed once, into a file of its own named by its index, and its
    // CRC checked on closing: a damaged entry ends the patch before anything of the game
    // directory changed. Inflating is what the time goes on, so the entries are shared out
    // among readers of their own, one per processor (at most kMostUnpackers); this thread
    // keeps the window alive and watches for the stop.
    const unsigned unpackers =
        std::clamp(UnpackThreads > 0 ? UnpackThreads : std::thread::hardware_concurrency(), 1u,
                   kMostUnpackers);
    std::atomic<bool> quit{false};
    const auto pumpAndWatch = [&] {
        Pump();
        if (stopRequested && stopRequested()) quit = true;
    };
    std::vector<UnpackerResult> results(unpackers);
    auto stageShare = [&](unsigned share, bool pumping) {
        std::uint64_t entry = 0;
        try {
            CUnzipFile reader(archive.string());
            std::vector<char> buffer(kCopyPiece);
            bool directory = false;
            reader.MoveFirst();
            do {
                entry = reader.EntryIndex();
                if (entry % unpackers != share) continue;
                EntryGameName(reader, directory);
                if (directory) continue;
                StageEntry(reader, staging, buffer, [&] {
                    if (pumping) pumpAndWatch();
                    return !quit.load();
                });
            } while (!quit && reader.MoveNext());
            reader.Close();
        } catch (const UnpackStopped&) {
        } catch (const std::exception& error) {
            results[share] = {true, entry, error.what()};
            quit = true;
        }
    };
    {
        std::atomic<unsigned> running{0};
        std::vector<std::jthread> helpers;
        for (unsigned share = 1; share < unpackers; ++share) {
            ++running;
            try {
                helpers.emplace_back([&, share] {
                    stageShare(share, false);
                    --running;
                });
            } catch (const std::system_error& error) {
                // A share without its thread would never be staged: the unpack fails whole.
                --running;
                results[share] = {true, 0, std::string("cannot start a thread: ") + error.what()};
                quit = true;
                break;
            }
        }
        stageShare(0, true);
        // The window stays alive, and the stop button heard, until the last share is done.
        while (running.load() > 0) {
            pumpAndWatch();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // The failure of the earliest entry is the one reported: the same archive fails the same
    // way whatever the number of threads.
    const auto first = std::min_element(
        results.begin(), results.end(), [](const UnpackerResult& a, const UnpackerResult& b) {
            return a.Failed != b.Failed ? a.Failed : a.Entry < b.Entry;
        });
    if (first->Failed) {
        const UnpackerResult& result = *first;
        // A damaged archive, or a write that failed (a full disk), ends the patch like a failed
        // download; the window stays usable and the next run applies this patch again.
        ReportFailure("cannot unpack the patch archive (" + result.What + ")", archive);
        host_.SetStatusText(kMsgPatchFailed);
        return giveUp();
    }
    if (quit) return giveUp();
    return true;
}

bool PatchEngine::InstallStagedArchive(std::string_view archivePath,
                                       const StopCheck& stopRequested) {
    const auto paths = ResolveArchivePaths(archivePath);
    if (!paths) return false;
    const auto& [archive, staging] = *paths;
    const auto giveUp = [&] { return GiveUpArchive(archivePath); };
    const auto cannotOpen = [&](const std::string& shown, int error) {
        ReportFailure("cannot write the patch archive's file", shown, error);
        host_.ShowMessageBox(shown + kCannotOpenSuffix, "Error", MessageBoxIcon::Stop);
        host_.CloseMainWindow();
        return giveUp();
    };

    // A config._ni left by an earlier run would otherwise pass for the archive's config.ini.
    std::error_code ec;
    for (auto stray = Resolve(kConfigSubstitute);
         stray && std::filesystem::is_regular_file(std::filesystem::symlink_status(*stray, ec));
         stray = Resolve(kConfigSubstitute)) {
        if (!std::filesystem::remove(*stray, ec)) {
            ReportFailure("cannot remove a stale config._ni", *stray, ec.value());
            host_.SetStatusText(kMsgPatchFailed);
            return giveUp();
        }
    }

    try {
        CUnzipFile zip(archive.string());
        // Each staged file replaces its target whole (the download sink's commit), so a run that
        // ends anywhere leaves every file either old or new. Reaching the disk is settled once for
        // all of them below, before config.ini records the new version.
        bool directory = false;
        std::filesystem::path createdDirectory;
        zip.MoveFirst();
        do {
            const std::string name = EntryGameName(zip, directory);
            if (directory) continue;
            // Resolved only now, against the directories and files that earlier entries of
            // this archive created: "NewDir\a" and "newdir\b" share one directory, and two
            // entries that differ only in letter case make one file (the later one wins).
            const auto target = Resolve(name);
            if (!target) return cannotOpen((gameDirectory_.Root() / "").string() + name, EINVAL);
            // Entries come grouped by directory: the same parent is not looked up again.
            if (target->parent_path() != createdDirectory) {
                gameDirectory_.CreateDirectories(target->parent_path(), ec);
                createdDirectory = target->parent_path();
            }
            const std::filesystem::path staged = StagedEntryPath(staging, zip.EntryIndex());
            std::string failure;
            if (!DownloadSink::CommitFile(staged, *target, failure)) {
                const int error = errno != 0 ? errno : EIO;
                std::fprintf(stderr, "torvane: %s\n", failure.c_str());
                return cannotOpen(target->string(), error);
            }
            gameDirectory_.NoteCreated(*target);
            Pump();
            if (stopRequested && stopRequested()) return giveUp();
        } while (zip.MoveNext());
        zip.Close();
    } catch (const std::exception& error) {
        ReportFailure(std::string("cannot unpack the patch archive (") + error.what() + ")",
                      archive);
        host_.SetStatusText(kMsgPatchFailed);
        return giveUp();
    }
    // Everything the archive held is in place: it goes before the flush, which then does not
    // write it to disk only to have it deleted (a run ending before config.ini downloads it
    // again anyway).
    RemoveStagedFiles();
    RemoveGameFile(archivePath);

    // The unpacked files reach the disk before config.ini can name the new version: after a
    // power cut before this point the old version stands and the next run unpacks again.
    if (!SyncFileSystemOf(gameDirectory_.Root())) {
        std::fprintf(stderr, "torvane: cannot flush the unpacked patch in %s to disk: %s\n",
                     gameDirectory_.Root().c_str(), std::strerror(errno));
        host_.SetStatusText(kMsgDownloadFailed);
        return giveUp();
    }

    const auto substitute = Resolve(kConfigSubstitute);
    const auto config = Resolve("config.ini");
    if (!std::filesystem::is_regular_file(*substitute, ec) ||
        !CopyFileAtomically(*substitute, *config)) {
        ReportFailure("the patch archive's config.ini could not be installed", *config, errno);
        host_.ShowMessageBox("\"config.ini\" error", "Error", MessageBoxIcon::Stop);
        host_.CloseMainWindow();
        return giveUp();
    }
    std::filesystem::remove(*substitute, ec);
    return true;
}

bool PatchEngine::UnpackPatchArchive(std::string_view archivePath, const StopCheck& stopRequested) {
    return StagePatchArchive(archivePath, stopRequested) &&
           InstallStagedArchive(archivePath, stopRequested);
}

bool PatchEngine::ApplyPackedArchive(const PatchList& list, std::string_view archivePath,
                                     const StopCheck& stopRequested) {
    // A signed repository's archive was checked against its manifest by the sink that
    // downloaded it, before it took its name: nothing of it, or of the list's deletions, touches
    // the game otherwise.
    if (!StagePatchArchive(archivePath, stopRequested)) return false;
    if (!ApplyDeleteEntries(list)) {
        RemoveStagedFiles();
        RemoveGameFile(archivePath);
        return false;
    }
    return InstallStagedArchive(archivePath, stopRequested);
}

bool PatchEngine::InstallPackedPatch(const PatchList& list, const DownloadFunction& download,
                                     const StopCheck& stopRequested) {
    const std::string local = std::string(kTempDirectory) + "\\" + kArchiveName;
    if (!download(kArchiveName, local)) {
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
    return ApplyPackedArchive(list, local, stopRequested);
}
