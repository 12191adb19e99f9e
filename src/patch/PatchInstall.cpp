// The installation half of PatchEngine: copying a downloaded per-file patch into place,
// retiring its log, a packed list's deletions and the removal of stale loose game data.

#include <cerrno>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "patch/PatchEngine.h"
#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "text/MessageNumbers.h"

namespace {

std::string_view FileNamePart(std::string_view path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool HasExtension(std::string_view name, std::string_view extension) {
    if (name.size() <= extension.size()) return false;
    return name[name.size() - extension.size() - 1] == '.' &&
           EqualsIgnoringAsciiCase(name.substr(name.size() - extension.size()), extension);
}

std::string TempPath(std::string_view logged) {
    return std::string(PatchEngine::kTempDirectory) + "\\" + std::string(logged);
}

}  // namespace

std::optional<std::string> PatchEngine::SubstituteName(std::string_view fileName, bool packed) {
    if (EqualsIgnoringAsciiCase(fileName, kProgramFileName))
        return std::string(kProgramStem) + "._xe";
    if (EqualsIgnoringAsciiCase(fileName, "kamsg.dll")) return std::string("kamsg._ll");
    if (EqualsIgnoringAsciiCase(fileName, "vk_zp.dll")) return std::string("vk_zp._ll");
    if (EqualsIgnoringAsciiCase(fileName, "message.wtf")) return std::string("message._tf");
    if (packed && EqualsIgnoringAsciiCase(fileName, "config.ini")) return std::string("config._ni");
    return std::nullopt;
}

bool PatchEngine::InstallFromTemp() {
    const auto lines = log_.ReadLines();
    if (!lines) return false;

    struct Copy {
        std::filesystem::path Source;
        std::filesystem::path Target;
        bool SelfUpdate = false;
    };
    // Every logged name is checked before the first copy, so a log with one unusable name
    // installs nothing rather than half a patch.
    std::vector<Copy> copies;
    for (const PatchLogLine& line : *lines) {
        if (line.Kind != 'F') continue;
        const auto source = Resolve(TempPath(line.Text));
        std::optional<std::filesystem::path> target;
        bool selfUpdate = false;
        if (const auto substitute = SubstituteName(FileNamePart(line.Text), false)) {
            target = Resolve(*substitute);
            selfUpdate = EqualsIgnoringAsciiCase(FileNamePart(line.Text), kProgramFileName);
        } else {
            target = Resolve(line.Text);
        }
        if (!source || !target) {
            const std::string shown =
                (gameDirectory_.Root() / kTempDirectory).string() + "/" + line.Text;
            host_.ShowMessageBox(
                "Patch Install Error, File : " + shown + " (" + std::to_string(EINVAL) + ")",
                "Error", MessageBoxIcon::None);
            return false;
        }
        copies.push_back(Copy{*source, *target, selfUpdate});
    }

    // Each copy replaces its target atomically but reaches the disk only with the one flush
    // after the last: until then the log and every "Temp" copy stay, so a run ending anywhere
    // in here (a power cut too) installs the whole batch again next time.
    for (const Copy& copy : copies) {
        if (copy.SelfUpdate) SelfUpdatePending = 1;
        std::error_code ec;
        std::filesystem::create_directories(copy.Target.parent_path(), ec);
        errno = 0;
        if (!CopyFileAtomically(copy.Source, copy.Target, FlushMode::Later)) {
            const int error = errno != 0 ? errno : EIO;
            ReportFailure("cannot install " + copy.Source.string(), copy.Target, error);
            host_.ShowMessageBox("Patch Install Error, File : " + copy.Source.string() + " (" +
                                     std::to_string(error) + ")",
                                 "Error", MessageBoxIcon::None);
            return false;
        }
        Pump();
    }
    if (!copies.empty() && !SyncFileSystemOf(gameDirectory_.Root())) {
        const int error = errno != 0 ? errno : EIO;
        ReportFailure("cannot flush the installed patch to disk", gameDirectory_.Root(), error);
        host_.ShowMessageBox("Patch Install Error, File : " + gameDirectory_.Root().string() +
                                 " (" + std::to_string(error) + ")",
                             "Error", MessageBoxIcon::None);
        return false;
    }
    return true;
}

bool PatchEngine::FinishPatchLog() {
    const auto lines = log_.ReadLines();
    if (!lines) return false;
    for (const PatchLogLine& line : *lines) {
        if (line.Kind != 'F') continue;
        const auto copy = Resolve(TempPath(line.Text));
        std::error_code ec;
        // A copy that cannot be deleted keeps the log; the patch still counts as finished.
        if (!copy || !std::filesystem::remove(*copy, ec) || ec) return true;
        Pump();
    }
    log_.Remove();
    return true;
}

bool PatchEngine::DropLogOfOtherVersion() {
    if (!log_.Exists() || !IsLoggedVersionDifferent()) return true;
    if (const auto lines = log_.ReadLines()) {
        for (const PatchLogLine& line : *lines) {
            if (line.Kind != 'F') continue;
            RemoveGameFile(TempPath(line.Text));
        }
    }
    if (log_.Remove() || !log_.Exists()) return true;
    ReportFailure("cannot remove the patch log of another version", log_.File(), errno);
    return false;
}

namespace {

bool IsAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "<name>.XXXXXX": the temporary a download writes before it takes the file's name.
bool IsDownloadTemporaryOf(std::string_view file, std::string_view name) {
    if (file.size() != name.size() + 7 ||
        !EqualsIgnoringAsciiCase(file.substr(0, name.size()), name) || file[name.size()] != '.')
        return false;
    for (const char c : file.substr(name.size() + 1)) {
        if (!IsAlphanumeric(c)) return false;
    }
    return true;
}

// ".<name>.tmp<pid>.<n>": the temporary of an atomic rewrite of `name`.
bool IsRewriteTemporaryOf(std::string_view file, std::string_view name) {
    const std::string prefix = "." + std::string(name) + ".tmp";
    if (file.size() <= prefix.size() || file.substr(0, prefix.size()) != prefix) return false;
    for (const char c : file.substr(prefix.size())) {
        if (!(c >= '0' && c <= '9') && c != '.') return false;
    }
    return true;
}

void RemoveMatching(const std::filesystem::path& directory,
                    const std::function<bool(std::string_view)>& matches) {
    std::error_code ec;
    std::vector<std::filesystem::path> doomed;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code statusError;
        if (!std::filesystem::is_regular_file(it->symlink_status(statusError))) continue;
        if (matches(it->path().filename().string())) doomed.push_back(it->path());
    }
    for (const auto& path : doomed) std::filesystem::remove(path, ec);
}

}  // namespace

void PatchEngine::RemoveStaleTemporaries() {
    RemoveMatching(gameDirectory_.Root(), [this](std::string_view file) {
        for (const std::string_view name :
             {std::string_view(kPatchListName), std::string_view("version.wvd"),
              std::string_view(VersionFileName)}) {
            if (!name.empty() && IsDownloadTemporaryOf(file, name)) return true;
        }
        return IsRewriteTemporaryOf(file, kLogFileName) || IsRewriteTemporaryOf(file, "config.ini");
    });
    if (const auto temp = Resolve(kTempDirectory)) {
        // "up_list.zip.part" and its record stay: an interrupted download continues from them.
        RemoveMatching(*temp, [](std::string_view file) {
            return IsDownloadTemporaryOf(file, kArchiveName) ||
                   IsRewriteTemporaryOf(file, kArchiveName) ||
                   IsRewriteTemporaryOf(file, std::string(kArchiveName) + ".part.resume");
        });
    }
    RemoveStagedFiles();
}

bool PatchEngine::ApplyDeleteEntries(const PatchList& list) {
    // Refuse the whole list before touching anything when one of its names is unusable.
    for (const PatchListItem& item : list.PackedItems) {
        const bool deletes = item.What == PatchListItem::Kind::DeleteFile ||
                             item.What == PatchListItem::Kind::DeleteDirectory;
        if (deletes && (item.Truncated || !GamePath::IsSafe(item.Name))) {
            host_.SetStatusText(kMsgPatchListUnreadable);
            return false;
        }
    }
    for (const PatchListItem& item : list.PackedItems) {
        std::error_code ec;
        switch (item.What) {
            case PatchListItem::Kind::File:
                if (EqualsIgnoringAsciiCase(item.Name, kProgramFileName)) SelfUpdatePending = 1;
                break;
            case PatchListItem::Kind::DeleteFile: {
                const auto target = Resolve(item.Name);
                const auto status = std::filesystem::symlink_status(*target, ec);
                if (!ec && std::filesystem::exists(status) &&
                    !std::filesystem::is_directory(status)) {
                    std::filesystem::remove(*target, ec);
                }
                break;
            }
            case PatchListItem::Kind::DeleteDirectory: {
                const auto target = Resolve(item.Name);
                const auto status = std::filesystem::symlink_status(*target, ec);
                if (!ec && std::filesystem::is_directory(status)) {
                    std::filesystem::remove(*target, ec);  // only an empty directory goes
                }
                break;
            }
            case PatchListItem::Kind::Subdirectory:
                break;
        }
        Pump();
    }
    return true;
}

void PatchEngine::RemoveStaleGameData() {
    static constexpr const char* kMarkers[] = {"Dec2.dat", "ring.OZJ", "FontTest.OZT",
                                               "Antidote01.bmd"};
    static constexpr const char* kLooseData[] = {"dat", "bmd", "txt", "OZJ", "OZT",
                                                 "wav", "att", "obj", "map"};
    bool stale = false;
    for (const char* marker : kMarkers) {
        std::error_code ec;
        const auto path = Resolve(marker);
        if (path && std::filesystem::exists(std::filesystem::symlink_status(*path, ec))) {
            stale = true;
            break;
        }
    }
    if (!stale) return;

    std::error_code ec;
    std::vector<std::filesystem::path> doomed;
    for (std::filesystem::directory_iterator it(gameDirectory_.Root(), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code statusError;
        const auto status = it->symlink_status(statusError);
        if (statusError || std::filesystem::is_directory(status)) continue;
        const std::string name = it->path().filename().string();
        for (const char* extension : kLooseData) {
            if (HasExtension(name, extension)) {
                doomed.push_back(it->path());
                break;
            }
        }
    }
    for (const auto& path : doomed) {
        std::error_code removeError;
        std::filesystem::remove(path, removeError);  // read-only files go as well
    }
}
