// The packed half of PatchEngine's installation: "up_list.zip" unpacked straight into the game
// directory, with the launcher's own files and config.ini written under substitute names.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
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

bool FlushToDisk(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
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

    std::filesystem::path pendingTemp;  // a half-written entry, removed if anything throws
    try {
        CUnzipFile zip(archive->string());

        // Every name is checked before the first file is written, so a hostile archive leaves
        // the game directory as it was.
        struct Target {
            std::uint32_t Index;
            std::filesystem::path Path;
        };
        std::vector<Target> targets;
        zip.MoveFirst();
        do {
            const std::string name = BackSlashed(zip.GetEntryName());
            if (!name.empty() && name.back() == '\\') continue;  // a directory entry
            const std::string substituted = SubstituteName(name, true).value_or(name);
            const auto target = Resolve(substituted);
            if (!target) return cannotOpen((gameDirectory_.Root() / "").string() + substituted);
            targets.push_back({zip.EntryIndex(), *target});
        } while (zip.MoveNext());

        std::vector<char> buffer(CUnzipFile::kReadBufferSize);
        zip.MoveFirst();
        for (const Target& target : targets) {
            while (zip.EntryIndex() < target.Index && zip.MoveNext()) {
            }
            EntryInfo info;
            zip.GetEntryInfo(&info);

            std::error_code ec;
            std::filesystem::create_directories(target.Path.parent_path(), ec);
            pendingTemp = TemporarySibling(target.Path);
            CFile output;
            if (!output.Open(pendingTemp.string(), CFile::modeCreate)) {
                pendingTemp.clear();
                return cannotOpen(target.Path.string());
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
            std::filesystem::rename(pendingTemp, target.Path, ec);
            if (ec || !FlushToDisk(target.Path)) {
                std::filesystem::remove(pendingTemp, ec);
                pendingTemp.clear();
                return cannotOpen(target.Path.string());
            }
            pendingTemp.clear();
        }
        zip.Close();
    } catch (const std::exception&) {
        // A damaged archive ends the patch like a failed download; the window stays usable and
        // the next run applies this patch again.
        std::error_code ec;
        if (!pendingTemp.empty()) std::filesystem::remove(pendingTemp, ec);
        host_.SetStatusText(kMsgPatchFailed);
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
