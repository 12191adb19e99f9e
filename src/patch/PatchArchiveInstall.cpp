// The packed half of PatchEngine's installation: "up_list.zip" unpacked straight into the game
// directory, with the launcher's own files and config.ini written under substitute names.

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

}  // namespace

bool PatchEngine::UnpackPatchArchive(std::string_view archivePath) {
    host_.SetStatusText(kMsgUnpacking);
    const auto archive = Resolve(archivePath);
    if (!archive) {
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }

    const auto cannotOpen = [&](const std::string& shown) {
        host_.ShowMessageBox(shown + kCannotOpenSuffix, "Error", MessageBoxIcon::Stop);
        host_.CloseMainWindow();
        return false;
    };

    // Where the current entry goes: nothing for a directory entry, `shown` alone for a name
    // that leaves the game directory.
    std::string shown;
    const auto entryTarget = [&](CUnzipFile& zip, bool& directory) {
        const std::string name = BackSlashed(zip.GetEntryName());
        directory = !name.empty() && name.back() == '\\';
        const std::string substituted = SubstituteName(name, true).value_or(name);
        shown = (gameDirectory_.Root() / "").string() + substituted;
        return directory ? std::nullopt : Resolve(substituted);
    };

    std::filesystem::path pendingTemp;  // a half-written entry, removed if anything throws
    try {
        CUnzipFile zip(archive->string());

        // Every name is checked before the first file is written, so a hostile archive leaves
        // the game directory as it was. Nothing is kept from this pass: memory stays the same
        // whatever the number of entries.
        bool directory = false;
        zip.MoveFirst();
        do {
            if (!entryTarget(zip, directory) && !directory) return cannotOpen(shown);
        } while (zip.MoveNext());

        // Each file is written under a temporary name and renamed over its target, so a run
        // that ends anywhere leaves every file either old or new. Reaching the disk is settled
        // once for all of them below, before config.ini records the new version.
        std::vector<char> buffer(kCopyPiece);
        std::filesystem::path createdDirectory;
        zip.MoveFirst();
        do {
            const auto target = entryTarget(zip, directory);
            if (!target) continue;
            EntryInfo info;
            zip.GetEntryInfo(&info);

            // Entries come grouped by directory: the same parent is not looked up again.
            std::error_code ec;
            if (target->parent_path() != createdDirectory) {
                MakeDirectories(gameDirectory_, target->parent_path());
                createdDirectory = target->parent_path();
            }
            pendingTemp = TemporarySibling(*target);
            CFile output;
            if (!output.Open(pendingTemp.string(), CFile::modeCreate)) {
                pendingTemp.clear();
                return cannotOpen(target->string());
            }
            zip.OpenEntry();
            for (;;) {
                const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
                if (got > 0) output.Write(buffer.data(), got);
                if (got < buffer.size()) break;
            }
            // The CRC is checked on closing: a damaged entry must not replace a good file.
            zip.CloseEntry();
            CUnzipFile::ApplyEntryStatus(output, info);
            std::filesystem::rename(pendingTemp, *target, ec);
            if (ec) {
                std::filesystem::remove(pendingTemp, ec);
                pendingTemp.clear();
                return cannotOpen(target->string());
            }
            pendingTemp.clear();
            gameDirectory_.NoteCreated(*target);
        } while (zip.MoveNext());
        zip.Close();
    } catch (const std::exception&) {
        // A damaged archive ends the patch like a failed download; the window stays usable and
        // the next run applies this patch again.
        std::error_code ec;
        if (!pendingTemp.empty()) std::filesystem::remove(pendingTemp, ec);
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }

    // The unpacked files reach the disk before config.ini can name the new version: after a
    // power cut before this point the old version stands and the next run unpacks again.
    if (!SyncFileSystemOf(gameDirectory_.Root())) {
        std::fprintf(stderr, "torvane: cannot flush the unpacked patch in %s to disk: %s\n",
                     gameDirectory_.Root().c_str(), std::strerror(errno));
        host_.SetStatusText(kMsgDownloadFailed);
        return false;
    }

    const auto substitute = Resolve("config._ni");
    const auto config = Resolve("config.ini");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*substitute, ec) ||
        !CopyFileAtomically(*substitute, *config)) {
        host_.ShowMessageBox("\"config.ini\" error", "Error", MessageBoxIcon::Stop);
        host_.CloseMainWindow();
        return false;
    }
    std::filesystem::remove(*substitute, ec);
    std::filesystem::remove(*archive, ec);
    return true;
}

bool PatchEngine::InstallPackedPatch(const PatchList& list, const DownloadFunction& download) {
    if (!ApplyDeleteEntries(list)) return false;
    const std::string local = std::string(kTempDirectory) + "\\" + kArchiveName;
    if (!download(kArchiveName, local)) {
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
    return UnpackPatchArchive(local);
}
