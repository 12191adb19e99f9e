// The packed half of PatchEngine's installation: "up_list.zip" read through, the list's
// deletions, then the archive unpacked straight into the game directory, with the launcher's
// own files and config.ini written under substitute names.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "archive/FileException.h"
#include "archive/UnzipFile.h"
#include "archive/ZipException.h"
#include "patch/PatchEngine.h"
#include "platform/AtomicFile.h"
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

// Makes `directory` under the game directory and tells the resolver of every level, so the
// names that follow are looked up without reading their directories again.
void MakeDirectories(const GamePath& game, const std::filesystem::path& directory) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    for (std::filesystem::path level = directory;
         level != game.Root() && level != level.parent_path(); level = level.parent_path())
        game.NoteCreated(level);
}

// Thrown when the stop flag ends a read-through or an unpack.
struct UnpackStopped {};

// The current entry's name as the game directory gets it (back-slashed, substitutes applied);
// `directory` says whether it is a directory entry, for which nothing is written.
std::string EntryGameName(CUnzipFile& zip, bool& directory) {
    const std::string name = BackSlashed(zip.GetEntryName());
    directory = !name.empty() && name.back() == '\\';
    return PatchEngine::SubstituteName(name, true).value_or(name);
}

}  // namespace

bool PatchEngine::VerifyPatchArchive(std::string_view archivePath, const StopCheck& stopRequested) {
    const auto archive = Resolve(archivePath);
    if (!archive) {
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
    try {
        CUnzipFile zip(archive->string());
        bool directory = false;
        zip.MoveFirst();
        do {
            const std::string name = EntryGameName(zip, directory);
            if (!directory && !GamePath::IsSafe(name)) {
                ReportFailure("the patch archive names an unusable path \"" + name + "\"",
                              *archive);
                host_.ShowMessageBox(
                    (gameDirectory_.Root() / "").string() + name + kCannotOpenSuffix, "Error",
                    MessageBoxIcon::Stop);
                host_.CloseMainWindow();
                RemoveGameFile(archivePath);
                return false;
            }
        } while (zip.MoveNext());
        // Every entry is decompressed once and its CRC checked (on closing it).
        std::vector<char> buffer(kCopyPiece);
        zip.MoveFirst();
        do {
            zip.OpenEntry();
            while (zip.ReadEntry(buffer.data(), buffer.size()) > 0) {
                Pump();
                if (stopRequested && stopRequested()) throw UnpackStopped{};
            }
            zip.CloseEntry();
        } while (zip.MoveNext());
        zip.Close();
    } catch (const UnpackStopped&) {
        return false;
    } catch (const std::exception& error) {
        ReportFailure(std::string("the patch archive is damaged (") + error.what() + ")", *archive);
        host_.SetStatusText(kMsgPatchFailed);
        RemoveGameFile(archivePath);
        return false;
    }
    return true;
}

bool PatchEngine::UnpackPatchArchive(std::string_view archivePath, const StopCheck& stopRequested) {
    host_.SetStatusText(kMsgUnpacking);
    const auto archive = Resolve(archivePath);
    if (!archive) {
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
    // A failed or stopped unpack gives the archive up: the next run downloads it again, and
    // the disk does not have to hold it twice meanwhile.
    const auto giveUp = [&] {
        RemoveGameFile(archivePath);
        return false;
    };
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

    std::filesystem::path pendingTemp;  // a half-written entry, removed if anything throws
    try {
        CUnzipFile zip(archive->string());

        // Every name is checked before the first file is written, so a hostile archive leaves
        // the game directory as it was. Nothing is kept from this pass: memory stays the same
        // whatever the number of entries.
        bool directory = false;
        zip.MoveFirst();
        do {
            const std::string name = EntryGameName(zip, directory);
            if (!directory && !GamePath::IsSafe(name))
                return cannotOpen((gameDirectory_.Root() / "").string() + name, EINVAL);
        } while (zip.MoveNext());

        // Each file is written under a temporary name and renamed over its target, so a run
        // that ends anywhere leaves every file either old or new. Reaching the disk is settled
        // once for all of them below, before config.ini records the new version.
        std::vector<char> buffer(kCopyPiece);
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
            EntryInfo info;
            zip.GetEntryInfo(&info);

            // Entries come grouped by directory: the same parent is not looked up again.
            if (target->parent_path() != createdDirectory) {
                MakeDirectories(gameDirectory_, target->parent_path());
                createdDirectory = target->parent_path();
            }
            pendingTemp = TemporarySibling(*target);
            CFile output;
            if (!output.Open(pendingTemp.string(), CFile::modeCreate)) {
                pendingTemp.clear();
                return cannotOpen(target->string(), output.LastError());
            }
            zip.OpenEntry();
            for (;;) {
                const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
                if (got > 0) output.Write(buffer.data(), got);
                Pump();
                if (stopRequested && stopRequested()) throw UnpackStopped{};
                if (got < buffer.size()) break;
            }
            // The CRC is checked on closing: a damaged entry must not replace a good file.
            zip.CloseEntry();
            CUnzipFile::ApplyEntryStatus(output, info);
            std::filesystem::rename(pendingTemp, *target, ec);
            if (ec) {
                const int error = ec.value();
                std::filesystem::remove(pendingTemp, ec);
                pendingTemp.clear();
                return cannotOpen(target->string(), error);
            }
            pendingTemp.clear();
            gameDirectory_.NoteCreated(*target);
        } while (zip.MoveNext());
        zip.Close();
    } catch (const UnpackStopped&) {
        if (!pendingTemp.empty()) std::filesystem::remove(pendingTemp, ec);
        return giveUp();
    } catch (const std::exception& error) {
        // A damaged archive, or a write that failed (a full disk), ends the patch like a failed
        // download; the window stays usable and the next run applies this patch again.
        if (!pendingTemp.empty()) std::filesystem::remove(pendingTemp, ec);
        ReportFailure(std::string("cannot unpack the patch archive (") + error.what() + ")",
                      *archive);
        host_.SetStatusText(kMsgPatchFailed);
        return giveUp();
    }

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
    std::filesystem::remove(*archive, ec);
    return true;
}

bool PatchEngine::ApplyPackedArchive(const PatchList& list, std::string_view archivePath,
                                     const StopCheck& stopRequested) {
    if (!VerifyPatchArchive(archivePath, stopRequested)) return false;
    if (!ApplyDeleteEntries(list)) {
        RemoveGameFile(archivePath);
        return false;
    }
    return UnpackPatchArchive(archivePath, stopRequested);
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
