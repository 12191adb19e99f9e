// The installation half of PatchEngine: copying a downloaded per-file patch into place,
// retiring its log, a packed list's deletions and the removal of stale loose game data.

#include <cerrno>
#include <functional>
#include <optional>
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
    struct Copy {
        std::filesystem::path Source;
        std::filesystem::path Target;
        bool SelfUpdate = false;
    };
    // The copy a logged name asks for; nullopt when a name is unusable.
    const auto copyFor = [this](const std::string& logged) -> std::optional<Copy> {
        const auto source = Resolve(TempPath(logged));
        std::optional<std::filesystem::path> target;
        bool selfUpdate = false;
        if (const auto substitute = SubstituteName(FileNamePart(logged), false)) {
            target = Resolve(*substitute);
            selfUpdate = EqualsIgnoringAsciiCase(FileNamePart(logged), kProgramFileName);
        } else {
            target = Resolve(logged);
        }
        if (!source || !target) return std::nullopt;
        return Copy{*source, *target, selfUpdate};
    };

    // Every logged name is checked before the first copy, so a log with one unusable name
    // installs nothing rather than half a patch. The log is read twice rather than held: a
    // patch of many thousand files costs no more memory than one of a few.
    std::optional<std::string> unusable;
    if (!log_.ForEachLine([&](const PatchLogLine& line) {
            if (line.Kind != 'F' || copyFor(line.Text)) return true;
            unusable = line.Text;
            return false;
        }))
        return false;
    const auto refuse = [this](const std::string& logged) {
        const std::string shown = (gameDirectory_.Root() / kTempDirectory).string() + "/" + logged;
        host_.ShowMessageBox(
            "Patch Install Error, File : " + shown + " (" + std::to_string(EINVAL) + ")", "Error",
            MessageBoxIcon::None);
        return false;
    };
    if (unusable) return refuse(*unusable);

    // Each copy replaces its target atomically but reaches the disk only with the one flush
    // after the last: until then the log and every "Temp" copy stay, so a run ending anywhere
    // in here (a power cut too) installs the whole batch again next time. Each target is
    // resolved as its turn comes, against what the copies before it made.
    std::size_t installed = 0;
    std::optional<std::filesystem::path> directory;
    bool failed = false;
    const bool read = log_.ForEachLine([&](const PatchLogLine& line) {
        if (line.Kind != 'F') return true;
        const auto copy = copyFor(line.Text);
        // Usable a moment ago: only a log changed meanwhile gets here.
        if (!copy) {
            failed = true;
            return refuse(line.Text);
        }
        const std::filesystem::path parent = copy->Target.parent_path();
        if (directory != parent) {
            // What the resolver knows of a directory the copies are done with is of no more
            // use to them.
            if (directory) gameDirectory_.ForgetListing(*directory);
            directory = parent;
        }
        if (copy->SelfUpdate) SelfUpdatePending = 1;
        std::error_code ec;
        gameDirectory_.CreateDirectories(parent, ec);
        errno = 0;
        if (!CopyFileAtomically(copy->Source, copy->Target, FlushMode::Later)) {
            const int error = errno != 0 ? errno : EIO;
            ReportFailure("cannot install " + copy->Source.string(), copy->Target, error);
            host_.ShowMessageBox("Patch Install Error, File : " + copy->Source.string() + " (" +
                                     std::to_string(error) + ")",
                                 "Error", MessageBoxIcon::None);
            failed = true;
            return false;
        }
        // The next target in the same directory is looked up without reading it again.
        gameDirectory_.NoteCreated(copy->Target);
        ++installed;
        Pump();
        return true;
    });
    if (directory) gameDirectory_.ForgetListing(*directory);
    if (!read || failed) return false;
    if (installed > 0 && !SyncFileSystemOf(gameDirectory_.Root())) {
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
    bool kept = false;
    const bool read = log_.ForEachLine([&](const PatchLogLine& line) {
        if (line.Kind != 'F') return true;
        const auto copy = Resolve(TempPath(line.Text));
        std::error_code ec;
        // A copy that cannot be deleted keeps the log; the patch still counts as finished.
        if (!copy || !std::filesystem::remove(*copy, ec) || ec) {
            kept = true;
            return false;
        }
        Pump();
        return true;
    });
    if (!read) return false;
    if (!kept) log_.Remove();
    return true;
}

bool PatchEngine::DropLogOfOtherVersion() {
    if (!log_.Exists() || !IsLoggedVersionDifferent()) return true;
    log_.ForEachLine([this](const PatchLogLine& line) {
        if (line.Kind == 'F') RemoveGameFile(TempPath(line.Text));
        return true;
    });
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
