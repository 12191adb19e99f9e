#include "RepositoryChecker.h"

#include <unistd.h>

#include <map>
#include <set>
#include <system_error>

#include "LauncherReaders.h"
#include "RepositoryMetadata.h"
#include "TreeScan.h"
#include "VersionLabel.h"
#include "patch/PatchList.h"
#include "patch/TokenReader.h"
#include "platform/AtomicFile.h"
#include "platform/GamePath.h"
#include "platform/ProfileFile.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxRemoteDirectoryFiles = 999;

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

bool HasBlank(const std::string& name) {
    for (unsigned char c : name) {
        if (c == ' ' || (c >= '\t' && c <= '\r')) return true;
    }
    return false;
}

std::string ParentOf(const std::string& backslashPath) {
    auto cut = backslashPath.rfind('\\');
    return cut == std::string::npos ? std::string() : backslashPath.substr(0, cut);
}

struct RemoteFile {
    std::string Name;
    std::uint64_t Size = 0;
};

// A server directory as the launcher's FTP listing gives it: plain files only, looked up by
// name without regard to case.
std::optional<std::map<std::string, RemoteFile>> ListServerDirectory(const fs::path& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return std::nullopt;
    std::map<std::string, RemoteFile> files;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        RemoteFile f;
        f.Name = it->path().filename().string();
        f.Size = it->file_size(ec);
        files.emplace(FoldCase(f.Name), f);
    }
    return files;
}

class Checker {
public:
    Checker(const CheckOptions& options, CheckReport& report) : o_(options), report_(report) {}

    void Run() {
        fs::path listFile = o_.Repository / o_.VersionFile;
        std::error_code ec;
        if (!fs::is_regular_file(listFile, ec)) {
            Problem(Quote(o_.VersionFile) + ": the version list is missing");
            return;
        }
        std::string error;
        auto entries = ReadVersionListFile(listFile, error);
        if (!entries) {
            Problem(Quote(o_.VersionFile) + ": " + error);
            return;
        }
        if (entries->size() > kMaxVersionListEntries) {
            Problem(Quote(o_.VersionFile) + " lists " + std::to_string(entries->size()) +
                    " versions; the launcher refuses more than 999");
        }
        CTokenReader tokens;
        if (tokens.OpenTokenFile(listFile)) {
            for (TokenKind kind; (kind = tokens.ReadToken()) != TokenEnd;) {
                if (kind == TokenName && (tokens.TokenText().size() > 8 || tokens.TokenTruncated()))
                    Problem("version list entry " + Quote(tokens.TokenText()) +
                            " is longer than 8 characters; the launcher passes it over");
            }
        }
        std::optional<VersionListEntryText> previous;
        std::set<std::string> listed;
        for (const auto& entry : *entries) {
            std::string labelProblem = LabelProblem(entry.Label);
            if (!labelProblem.empty())
                Problem("version " + Quote(entry.Label) + ": " + labelProblem);
            if (previous && entry.Version.Packed() <= previous->Version.Packed()) {
                Problem("versions out of order: " + Quote(entry.Label) + " (" +
                        entry.Version.Text() + ") follows " + Quote(previous->Label) + " (" +
                        previous->Version.Text() + ")");
            }
            previous = entry;
            listed.insert(entry.Label);
            CheckVersion(entry);
            ++report_.VersionsChecked;
        }
        for (auto it = fs::directory_iterator(o_.Repository, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (it->is_directory(ec) && !name.starts_with(".") && !listed.count(name))
                Note("directory " + Quote(name) + " is not in the version list");
        }
        FindSymbolicLinks();
    }

private:
    // FTP servers list a symbolic link with the size of the link itself, not of the file it
    // names, and some refuse to follow it at all: a player's download of it goes wrong.
    void FindSymbolicLinks() {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(o_.Repository, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_symlink(ec)) {
                Problem(Quote(it->path().lexically_relative(o_.Repository).generic_string()) +
                        ": a symbolic link; FTP servers list it with the link's own size, so "
                        "copy the file it names into the repository instead");
            }
        }
    }

    void Problem(std::string text) { report_.Problems.push_back(std::move(text)); }
    void Note(std::string text) { report_.Notes.push_back(std::move(text)); }

    void CheckVersion(const VersionListEntryText& entry) {
        const std::string& label = entry.Label;
        fs::path dir = o_.Repository / label;
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) {
            Problem("version " + Quote(label) + ": its directory is missing");
            return;
        }
        auto read = ReadPatchList(dir / "list.inf");
        if (!read) {
            Problem("version " + Quote(label) + ": \"list.inf\" is missing");
            return;
        }
        if (read->HasTruncatedName())
            Problem("version " + Quote(label) +
                    ": \"list.inf\" names a path longer than the "
                    "launcher holds");
        auto list = MakeView(*read);
        if (list->TestServer) Note("version " + Quote(label) + " is for test clients only");
        if (list->PackingVersion)
            CheckPacked(entry, dir, *list);
        else
            CheckPerFile(label, dir, *list);
    }

    // The list as each session walks it: per-file switches and files, or the packed form.
    static std::optional<PatchListView> MakeView(const PatchList& read) {
        PatchListView view;
        view.Compressed = read.Flags.Compressed;
        view.NewToolVersion = read.Flags.NewToolVersion;
        view.PackingVersion = read.Flags.PackingVersion;
        view.TestServer = read.Flags.TestServer;
        view.Directories.push_back({});
        for (const auto& item : read.Items) {
            switch (item.What) {
                case PatchListItem::Kind::Subdirectory:
                    view.Directories.push_back({item.Name, {}});
                    break;
                case PatchListItem::Kind::File:
                    view.Directories.back().Files.push_back(item.Name);
                    view.PackedFiles.push_back(item.Name);
                    break;
                case PatchListItem::Kind::DeleteFile:
                    view.DeletedFiles.push_back(item.Name);
                    break;
                case PatchListItem::Kind::DeleteDirectory:
                    view.DeletedDirectories.push_back(item.Name);
                    break;
            }
        }
        return view;
    }

    void CheckPath(const std::string& label, const std::string& what, const std::string& path) {
        if (!GamePath::IsSafe(path))
            Problem("version " + Quote(label) + ": " + what + " " + Quote(path) +
                    " is a path the launcher refuses");
    }

    void CheckPacked(const VersionListEntryText& entry, const fs::path& dir,
                     const PatchListView& list) {
        const std::string& label = entry.Label;
        for (const auto& name : list.DeletedFiles) CheckPath(label, "delete entry", name);
        for (const auto& name : list.DeletedDirectories)
            CheckPath(label, "directory delete entry", name);
        std::string error;
        auto archive = ReadPatchArchive(dir / "up_list.zip", error);
        if (!archive) {
            Problem("version " + Quote(label) + ": \"up_list.zip\" " + error);
            return;
        }
        std::set<std::string> members;
        for (const auto& e : archive->Entries) {
            std::string name = ToBackslashes(e.Name);
            members.insert(FoldCase(name));
            if (e.IsDirectory) continue;
            CheckPath(label, "archive member", name);
            for (auto cut = name.find('\\'); cut != std::string::npos;
                 cut = name.find('\\', cut + 1)) {
                createdDirectories_.insert(FoldCase(name.substr(0, cut)));
            }
            for (const auto& d : list.DeletedDirectories) {
                if (FoldCase(name).starts_with(FoldCase(d) + "\\"))
                    Note("version " + Quote(label) + ": directory " + Quote(d) +
                         " is deleted and then receives " + Quote(name));
            }
        }
        for (const auto& name : list.PackedFiles) {
            if (!members.count(FoldCase(name)))
                Note("version " + Quote(label) + ": listed " + Quote(name) +
                     " is not in the archive");
        }
        if (!archive->ConfigIni) {
            Problem("version " + Quote(label) +
                    ": \"up_list.zip\" lacks \"config.ini\"; the launcher stops with "
                    "\"config.ini\" error");
            return;
        }
        auto version = ArchiveConfigVersion(*archive->ConfigIni);
        if (version.Packed() != entry.Version.Packed()) {
            Problem("version " + Quote(label) + ": the archive's config.ini says version " +
                    version.Text() + "; HTTP clients would record that instead of " +
                    entry.Version.Text());
        }
    }

    // "Version" of section "LOGIN", read with the launcher's profile rules (a 10-byte buffer).
    static LabelVersion ArchiveConfigVersion(const std::string& configIni) {
        std::error_code ec;
        fs::path scratch =
            fs::temp_directory_path(ec) / ("torvane-check-" + std::to_string(::getpid()) + ".ini");
        if (!WriteFileAtomically(scratch, configIni)) return {};
        char value[10] = {};
        GetPrivateProfileStringA("LOGIN", "Version", "0.0.0", value, sizeof value, scratch);
        fs::remove(scratch, ec);
        return ReadLabelVersion(value);
    }

    void CheckPerFile(const std::string& label, const fs::path& dir, const PatchListView& list) {
        if (o_.Http) {
            Problem("version " + Quote(label) +
                    " is a per-file patch: HTTP launchers apply packed versions only and stop at "
                    "this one on every run (publish it again with --packed)");
        } else {
            Note("version " + Quote(label) + " is a per-file patch: only FTP clients can apply it");
        }
        std::map<std::string, std::optional<std::map<std::string, RemoteFile>>> listings;
        auto listing =
            [&](const std::string& subdir) -> std::optional<std::map<std::string, RemoteFile>>& {
            auto found = listings.find(subdir);
            if (found != listings.end()) return found->second;
            fs::path where = dir;
            if (!subdir.empty()) {
                std::string forward = subdir;
                for (char& c : forward) {
                    if (c == '\\') c = '/';
                }
                where = dir / forward;
            }
            auto& slot = listings[subdir];
            slot = ListServerDirectory(where);
            if (slot && slot->size() > kMaxRemoteDirectoryFiles) {
                Problem("version " + Quote(label) + ": server directory " +
                        Quote(subdir.empty() ? label : label + "\\" + subdir) + " holds " +
                        std::to_string(slot->size()) + " files; the launcher lists at most 999");
            }
            return slot;
        };

        for (const auto& d : list.Directories) {
            if (!d.Path.empty()) {
                CheckPath(label, "directory", d.Path);
                std::string parent = ParentOf(FoldCase(d.Path));
                if (!parent.empty() && !createdDirectories_.count(parent)) {
                    Problem("version " + Quote(label) + ": directory " + Quote(d.Path) +
                            " comes before its parent; the launcher creates one level at a "
                            "time");
                }
                createdDirectories_.insert(FoldCase(d.Path));
            }
            std::string serverDir = list.NewToolVersion ? d.Path : std::string();
            auto& files = listing(serverDir);
            if (!files) {
                Problem("version " + Quote(label) + ": server directory " +
                        Quote(label + "\\" + serverDir) + " is missing");
            }
            for (const auto& name : d.Files)
                CheckListedFile(label, list, d.Path, name, files, dir, serverDir);
        }
    }

    void CheckListedFile(const std::string& label, const PatchListView& list,
                         const std::string& subdir, const std::string& name,
                         const std::optional<std::map<std::string, RemoteFile>>& files,
                         const fs::path& dir, const std::string& serverDir) {
        std::string path = subdir.empty() ? name : subdir + "\\" + name;
        CheckPath(label, "file", path);
        if (HasBlank(name))
            Problem("version " + Quote(label) + ": file " + Quote(path) +
                    " has a blank, which the patch log cannot hold");
        if (list.Compressed) {
            bool suffixOk = name.size() > 4 && name[name.size() - 4] == '.' &&
                            name.substr(name.size() - 3).find('.') == std::string::npos;
            if (!suffixOk)
                Problem("version " + Quote(label) + ": compressed file " + Quote(path) +
                        " lacks a four-character suffix such as \".VKC\"");
        }
        if (!files) return;
        auto found = files->find(FoldCase(name));
        if (found == files->end()) {
            Problem("version " + Quote(label) + ": listed file " + Quote(path) +
                    " is not on the server");
            return;
        }
        if (found->second.Size == 0) {
            Problem("version " + Quote(label) + ": file " + Quote(path) +
                    " is empty on the server; the launcher's FTP transfer refuses it");
        }
        if (list.Compressed) {
            fs::path file = dir;
            if (!serverDir.empty()) {
                std::string forward = serverDir;
                for (char& c : forward) {
                    if (c == '\\') c = '/';
                }
                file /= forward;
            }
            file /= found->second.Name;
            std::string error;
            if (!IsCompleteCompressedFile(file, error))
                Problem("version " + Quote(label) + ": compressed file " + Quote(path) + " " +
                        error);
        }
    }

    const CheckOptions& o_;
    CheckReport& report_;
    std::set<std::string> createdDirectories_;  // folded, '\' separated
};

}  // namespace

CheckReport CheckRepository(const CheckOptions& options) {
    CheckReport report;
    Checker(options, report).Run();
    std::optional<MinisignPublicKey> key;
    if (options.PublicKey) {
        std::string error;
        key = LoadPublicKey(*options.PublicKey, error);
        if (!key) {
            report.Problems.push_back(error);
            return report;
        }
    }
    CheckRepositoryMetadata(options.Repository, options.VersionFile, key, report.Problems,
                            report.Notes);
    return report;
}
