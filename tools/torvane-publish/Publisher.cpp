#include "Publisher.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "CompressedFileWriter.h"
#include "PackedArchiveWriter.h"
#include "PatchListWriter.h"
#include "PatchNames.h"
#include "RepositoryMetadata.h"
#include "TreeDiff.h"
#include "TreeScan.h"
#include "VersionLabel.h"
#include "patch/PatchEngine.h"
#include "patch/PatchList.h"
#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/ProfileFile.h"
#include "trust/RepositoryIndex.h"

namespace fs = std::filesystem;

namespace {

// The launcher's FTP listing keeps at most this many files of one remote directory.
constexpr std::size_t kMaxRemoteDirectoryFiles = 999;
constexpr const char* kCompressedSuffix = ".VKC";

std::string ParentOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Quote(const std::string& path) {
    return "\"" + path + "\"";
}

bool CopyWithTime(const fs::path& from, const fs::path& to) {
    if (!CopyFileAtomically(from, to)) return false;
    std::error_code ec;
    fs::last_write_time(to, fs::last_write_time(from, ec), ec);
    return true;
}

// Everything worked out before a byte is written.
struct Plan {
    TreeScan NewTree;
    TreeDiff Diff;
    std::string VersionListText;  // the version list's new contents
    std::vector<std::string> Errors;
    std::vector<std::string> Warnings;
    std::optional<MinisignSecretKey> Key;  // when signing
};

// Normal clients skip the versions marked for test clients; a normal version made from the tree
// of such a version carries only what changed since it, so normal players would miss the rest.
void WarnAboutTestServerBase(const PublishOptions& o,
                             const std::vector<VersionListEntryText>& entries, Plan& plan) {
    if (o.TestServer || entries.empty()) return;
    std::vector<std::string> testOnly;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        const auto list = ReadPatchList(o.Repository / entry->Label / "list.inf");
        if (!list || !list->Flags.TestServer) break;
        testOnly.insert(testOnly.begin(), Quote(entry->Label));
    }
    if (testOnly.empty()) return;
    std::string names;
    for (const auto& name : testOnly) names += (names.empty() ? "" : ", ") + name;
    plan.Warnings.push_back(
        std::string(testOnly.size() == 1 ? "the newest version " : "the newest versions ") + names +
        (testOnly.size() == 1 ? " is" : " are") + " for test clients only: normal clients skip " +
        (testOnly.size() == 1 ? "it" : "them") + ", so " + Quote(o.Label) +
        " must carry everything that changed since the last normal version (pass that "
        "version's tree as --from)");
}

void CheckLabel(const PublishOptions& o, Plan& plan) {
    std::string problem = LabelProblem(o.Label);
    if (!problem.empty()) {
        plan.Errors.push_back("label " + Quote(o.Label) + ": " + problem);
        return;
    }
    fs::path listFile = o.Repository / o.VersionFile;
    std::error_code ec;
    std::string existing;
    if (fs::exists(listFile, ec)) {
        std::string error;
        auto entries = ReadVersionListFile(listFile, error);
        if (!entries) {
            plan.Errors.push_back(listFile.string() + ": " + error);
            return;
        }
        if (entries->size() >= kMaxVersionListEntries) {
            plan.Errors.push_back(listFile.string() + " already lists " +
                                  std::to_string(entries->size()) +
                                  " versions, the most the launcher reads");
        }
        LabelVersion version = ReadLabelVersion(o.Label);
        for (const auto& e : *entries) {
            if (e.Version.Packed() >= version.Packed()) {
                plan.Errors.push_back("label " + Quote(o.Label) + " (" + version.Text() +
                                      ") is not newer than the listed " + Quote(e.Label) + " (" +
                                      e.Version.Text() + ")");
                break;
            }
        }
        WarnAboutTestServerBase(o, *entries, plan);
        std::ifstream in(listFile, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        existing = buffer.str();
        if (!existing.empty() && existing.back() != '\n') existing += "\n";
    }
    if (fs::exists(o.Repository / o.Label, ec)) {
        plan.Errors.push_back((o.Repository / o.Label).string() +
                              " already exists: a label names one version only");
    }
    plan.VersionListText = existing + Quote(o.Label) + "\n";
}

// "1 removed file", "2 removed files".
std::string Counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The first twenty paths, quoted, then how many more there are.
std::string NamedList(const std::vector<TreeEntry>& entries) {
    constexpr std::size_t kNamed = 20;
    std::string text;
    for (std::size_t i = 0; i < entries.size() && i < kNamed; ++i)
        text += (i == 0 ? "" : ", ") + Quote(entries[i].Path);
    if (entries.size() > kNamed)
        text += " and " + std::to_string(entries.size() - kNamed) + " more";
    return text;
}

void CheckPerFile(const PublishOptions& o, Plan& plan) {
    const TreeDiff& d = plan.Diff;
    for (const auto& path : d.KindChanges) {
        plan.Errors.push_back(Quote(path) +
                              " changes between file and directory: only --packed can do that");
    }
    for (const auto& f : d.Published) {
        if (o.Mode == PatchMode::Files && f.Size == 0) {
            plan.Errors.push_back(Quote(f.Path) +
                                  " is empty: the launcher's FTP transfer refuses empty files "
                                  "(use --compressed or --packed)");
        }
    }
    // The launcher looks each file up by its bare name in one remote directory listing: the
    // patch directory, or with --absolute-dirs the file's own directory.
    std::map<std::string, std::map<std::string, std::string>> listings;
    listings[""].emplace("list.inf", "list.inf");
    if (o.SigningKey) listings[""].emplace(kManifestName, kManifestName);
    for (const auto& f : d.Published) {
        std::string dir = o.AbsoluteDirectories ? FoldCase(ParentOf(f.Path)) : std::string();
        std::string name =
            FoldCase(NameOf(f.Path) + (o.Mode == PatchMode::Compressed ? kCompressedSuffix : ""));
        auto [where, fresh] = listings[dir].emplace(name, f.Path);
        if (!fresh) {
            plan.Errors.push_back(Quote(f.Path) + " and " + Quote(where->second) +
                                  " share a file name in one server directory "
                                  "(use --absolute-dirs or --packed)");
        }
    }
    for (const auto& [dir, files] : listings) {
        if (files.size() > kMaxRemoteDirectoryFiles) {
            plan.Errors.push_back("server directory " +
                                  Quote(o.Label + (dir.empty() ? "" : "/") + dir) + " would hold " +
                                  std::to_string(files.size()) +
                                  " files; the launcher lists at most 999");
        }
    }
    if (!d.RemovedFiles.empty() || !d.RemovedDirectories.empty()) {
        std::vector<TreeEntry> removed = d.RemovedFiles;
        removed.insert(removed.end(), d.RemovedDirectories.begin(), d.RemovedDirectories.end());
        plan.Warnings.push_back(
            Counted(d.RemovedFiles.size(), "removed file", "removed files") + " and " +
            Counted(d.RemovedDirectories.size(), "removed directory", "removed directories") +
            " stay on players' disks: only packed patches carry deletions (" + NamedList(removed) +
            ")");
    }
}

void WarnAboutNames(const PublishOptions& o, Plan& plan) {
    for (const auto& f : plan.Diff.Published) {
        // Per-file installers compare the file name alone, the unpacker the whole path.
        auto substitute = o.Mode == PatchMode::Packed
                              ? PatchEngine::SubstituteName(ToBackslashes(f.Path), true)
                              : PatchEngine::SubstituteName(NameOf(f.Path), false);
        if (!substitute || FoldCase(*substitute) == "config._ni") continue;
        std::string note = Quote(f.Path) + " is installed as " + Quote(*substitute) +
                           " in the game directory, not under its own name";
        if (EqualsIgnoringAsciiCase(NameOf(f.Path), PatchEngine::kProgramFileName))
            note += "; the launcher stops patching after this version and starts the game";
        plan.Warnings.push_back(note);
    }
    if (o.Mode == PatchMode::Packed) {
        for (const auto& dir : plan.Diff.NewDirectories) {
            bool hasFile =
                std::any_of(plan.Diff.Published.begin(), plan.Diff.Published.end(),
                            [&](const TreeEntry& f) { return f.Key.starts_with(dir.Key + "/"); });
            if (!hasFile) {
                plan.Warnings.push_back("directory " + Quote(dir.Path) +
                                        " holds no new file: a packed patch cannot create it");
            }
        }
    }
    // After every FTP patch the launcher deletes loose game data from the game directory
    // when one of its trigger files lies there.
    std::vector<std::string> triggers;
    std::vector<std::string> victims;
    for (const auto& e : plan.NewTree.Entries) {
        if (e.IsDirectory || e.Path.find('/') != std::string::npos) continue;
        if (IsStaleDataTrigger(e.Path)) triggers.push_back(e.Path);
        if (IsStaleDataVictim(e.Path)) victims.push_back(e.Path);
    }
    if (!triggers.empty() && !victims.empty()) {
        std::string list;
        for (const auto& v : victims) list += (list.empty() ? "" : ", ") + v;
        plan.Warnings.push_back(Quote(triggers.front()) +
                                " in the game directory makes the launcher delete these loose "
                                "files after each FTP patch: " +
                                list);
    }
}

void CheckSigning(const PublishOptions& o, Plan& plan) {
    std::error_code ec;
    if (o.SigningKey) {
        std::string error;
        plan.Key = LoadSecretKey(*o.SigningKey, error);
        if (!plan.Key) plan.Errors.push_back(error);
        if (o.ExpiryDays < 1) plan.Errors.push_back("--expires must be at least 1 day");
    } else if (fs::exists(o.Repository / kRepositoryIndexName, ec)) {
        plan.Errors.push_back(
            (o.Repository / kRepositoryIndexName).string() +
            " exists: the repository is signed, and a version added without --sign "
            "SECRET_KEY_FILE would make launchers that trust its key refuse it");
    }
}

// The version's file hashes and where each is fetched from, for its manifest.
ManifestFile PublishedRecord(const std::string& path, const Sha256Digest& digest,
                             std::uint64_t size, FileSourceKind kind, std::string location) {
    ManifestFile f;
    f.Path = path;
    f.Size = size;
    f.Digest = digest;
    f.Kind = kind;
    f.Location = std::move(location);
    return f;
}

Plan MakePlan(const PublishOptions& o) {
    Plan plan;
    CheckLabel(o, plan);
    plan.NewTree = ScanTree(o.NewTree);
    for (auto& e : plan.NewTree.Errors) plan.Errors.push_back("new tree: " + e);
    std::optional<TreeScan> oldTree;
    if (o.OldTree) {
        oldTree = ScanTree(*o.OldTree);
        // The old tree is only compared against; its odd names are not published.
        for (auto& e : oldTree->Errors) plan.Warnings.push_back("old tree: " + e);
    }
    plan.Diff = DiffTrees(oldTree, plan.NewTree);
    for (auto& e : plan.Diff.Errors) plan.Errors.push_back(e);
    // Names the launcher itself uses in the game directory: it deletes the list and the
    // version list after each session, the log after each patch, and "Temp" at game start.
    for (const auto& e : plan.NewTree.Entries) {
        if (e.Key == "list.inf" || e.Key == FoldCase(o.VersionFile) || e.Key == "patch.log" ||
            e.Key == "temp") {
            plan.Errors.push_back(Quote(e.Path) +
                                  " is a name the launcher uses for itself in the game "
                                  "directory and would delete");
        }
    }
    CheckSigning(o, plan);
    if (o.Mode != PatchMode::Packed) CheckPerFile(o, plan);
    if (o.AbsoluteDirectories && o.Mode == PatchMode::Packed)
        plan.Errors.push_back("--absolute-dirs applies to per-file patches only");
    WarnAboutNames(o, plan);
    if (plan.Diff.Published.empty() && plan.Diff.RemovedFiles.empty() &&
        plan.Diff.RemovedDirectories.empty()) {
        plan.Warnings.push_back("no file changed between the trees");
    }
    return plan;
}

// The archive's "config.ini": the new tree's own with "Version" set to the label, or one that
// holds only that.
bool MakeConfigMember(const PublishOptions& o, const Plan& plan, const fs::path& scratch,
                      ArchiveMember& member, std::string& error) {
    fs::path work = scratch / "config.ini";
    member.Name = "config.ini";
    member.ModificationTime = 0;
    for (const auto& e : plan.NewTree.Entries) {
        if (!e.IsDirectory && e.Key == "config.ini") {
            if (!CopyWithTime(e.Source, work)) {
                error = "cannot copy " + e.Source.string();
                return false;
            }
            member.Name = e.Path;
            member.ModificationTime = FileModificationTime(e.Source);
        }
    }
    if (member.ModificationTime == 0) {
        // No file to take a time from: the newest file of the tree, so that the same tree
        // gives the same archive.
        for (const auto& e : plan.NewTree.Entries) {
            if (!e.IsDirectory)
                member.ModificationTime =
                    std::max(member.ModificationTime, FileModificationTime(e.Source));
        }
        if (member.ModificationTime == 0) member.ModificationTime = 315532800;  // 1980-01-01
    }
    if (!WritePrivateProfileStringA("LOGIN", "Version", o.Label.c_str(), work)) {
        error = "cannot write the archive's config.ini";
        return false;
    }
    std::ifstream in(work, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    member.FromContents = true;
    member.Contents = buffer.str();
    return true;
}

bool WritePacked(const PublishOptions& o, const Plan& plan, const fs::path& stage,
                 const fs::path& scratch, PublishResult& result, PublishedFiles& published,
                 std::string& error) {
    std::vector<ArchiveMember> members;
    ArchiveMember config;
    if (!MakeConfigMember(o, plan, scratch, config, error)) return false;
    std::vector<TreeEntry> ordered;
    for (const auto& f : plan.Diff.Published) {
        if (f.Key != "config.ini") ordered.push_back(f);
    }
    TreeEntry configEntry;
    configEntry.Path = config.Name;
    configEntry.Key = FoldCase(config.Name);
    ordered.push_back(configEntry);
    std::sort(ordered.begin(), ordered.end(), TreeOrderLess);

    PackedListContent list;
    list.TestServer = o.TestServer;
    for (const auto& f : ordered) {
        if (f.Key == "config.ini") {
            members.push_back(config);
        } else {
            ArchiveMember m;
            m.Name = f.Path;
            m.Source = f.Source;
            m.ModificationTime = FileModificationTime(f.Source);
            m.ExecuteBits = FileExecuteBits(f.Source);
            members.push_back(std::move(m));
        }
        list.Files.push_back(ToBackslashes(f.Path));
    }
    for (const auto& f : plan.Diff.RemovedFiles) list.DeletedFiles.push_back(ToBackslashes(f.Path));
    for (const auto& d : plan.Diff.RemovedDirectories)
        list.DeletedDirectories.push_back(ToBackslashes(d.Path));
    if (!WritePackedArchive(stage / "up_list.zip", members, error)) return false;
    if (plan.Key) {
        published.Packed = true;
        for (const auto& m : members) {
            std::optional<FileDigest> digest =
                m.FromContents ? FileDigest{m.Contents.size(), Sha256Of(m.Contents)}
                               : Sha256OfFile(m.Source);
            if (!digest) {
                error = "cannot read " + m.Source.string();
                return false;
            }
            ManifestFile f = PublishedRecord(m.Name, digest->Digest, digest->Size,
                                             FileSourceKind::Packed, o.Label + "/up_list.zip");
            f.Entry = m.Name;
            published.Files.push_back(std::move(f));
        }
    }
    if (!WriteFileAtomically(stage / "list.inf", WritePackedList(o.Label, list))) {
        error = "cannot write list.inf";
        return false;
    }
    result.FileCount = members.size();
    result.DeleteCount = list.DeletedFiles.size() + list.DeletedDirectories.size();
    return true;
}

bool WritePerFile(const PublishOptions& o, const Plan& plan, const fs::path& stage,
                  PublishResult& result, PublishedFiles& published, std::string& error) {
    bool compressed = o.Mode == PatchMode::Compressed;
    // Directories to switch to: every directory of a published file and every new
    // directory, each with all its parents, in the new tree's order (parents first).
    std::set<std::string> wanted;
    auto want = [&](std::string dirKey) {
        while (!dirKey.empty()) {
            wanted.insert(dirKey);
            dirKey = ParentOf(dirKey);
        }
    };
    std::map<std::string, std::vector<const TreeEntry*>> filesByDir;
    for (const auto& f : plan.Diff.Published) {
        want(ParentOf(f.Key));
        filesByDir[ParentOf(f.Key)].push_back(&f);
    }
    for (const auto& d : plan.Diff.NewDirectories) want(d.Key);

    PerFileListContent list;
    list.TestServer = o.TestServer;
    list.Compressed = compressed;
    list.AbsoluteDirectories = o.AbsoluteDirectories;
    std::vector<std::pair<std::string, std::string>> dirs = {{"", ""}};  // key, path
    for (const auto& e : plan.NewTree.Entries) {
        if (e.IsDirectory && wanted.count(e.Key)) dirs.emplace_back(e.Key, e.Path);
    }
    for (const auto& [key, path] : dirs) {
        PerFileDirectory entry;
        entry.Path = ToBackslashes(path);
        fs::path serverDir = stage;
        if (o.AbsoluteDirectories && !path.empty()) {
            serverDir = stage / path;
            std::error_code ec;
            fs::create_directories(serverDir, ec);
            if (ec) {
                error = "cannot create " + serverDir.string();
                return false;
            }
        }
        for (const TreeEntry* f : filesByDir[key]) {
            std::string name = NameOf(f->Path);
            if (compressed) {
                name += kCompressedSuffix;
                if (!WriteCompressedFile(f->Source, serverDir / name)) {
                    error = "cannot compress " + f->Source.string();
                    return false;
                }
                std::error_code ec;
                fs::last_write_time(serverDir / name, fs::last_write_time(f->Source, ec), ec);
            } else if (!CopyWithTime(f->Source, serverDir / name)) {
                error = "cannot copy " + f->Source.string();
                return false;
            }
            entry.Files.push_back(name);
            ++result.FileCount;
            if (plan.Key) {
                std::string location = o.Label + "/" +
                                       (o.AbsoluteDirectories && !path.empty() ? path + "/" : "") +
                                       name;
                auto source = Sha256OfFile(f->Source);
                auto stored = Sha256OfFile(serverDir / name);
                if (!source || !stored) {
                    error = "cannot read " + f->Source.string();
                    return false;
                }
                ManifestFile record = PublishedRecord(
                    f->Path, source->Digest, source->Size,
                    compressed ? FileSourceKind::Compressed : FileSourceKind::Plain, location);
                if (compressed) {
                    record.StoredSize = stored->Size;
                    record.StoredDigest = stored->Digest;
                }
                published.Files.push_back(std::move(record));
            }
        }
        list.Directories.push_back(std::move(entry));
    }
    if (!WriteFileAtomically(stage / "list.inf", WritePerFileList(o.Label, list))) {
        error = "cannot write list.inf";
        return false;
    }
    return true;
}

// What a run would write, from the plan alone (nothing is read beyond the trees' listings).
void ListPlannedWrites(const PublishOptions& o, const Plan& plan, PublishResult& result) {
    const fs::path version = o.Repository / o.Label;
    if (o.Mode == PatchMode::Packed) {
        bool config = false;
        for (const auto& f : plan.Diff.Published) config = config || f.Key == "config.ini";
        result.FileCount = plan.Diff.Published.size() + (config ? 0 : 1);
        result.DeleteCount = plan.Diff.RemovedFiles.size() + plan.Diff.RemovedDirectories.size();
        result.Planned.push_back((version / "up_list.zip").string() + ": " +
                                 std::to_string(result.FileCount) +
                                 (result.FileCount == 1 ? " member" : " members") +
                                 (config ? "" : " (config.ini made with Version=" + o.Label + ")"));
        for (const auto& f : plan.Diff.Published)
            result.Planned.push_back("  " + f.Path +
                                     (f.Key == "config.ini" ? " (Version=" + o.Label + ")" : ""));
        for (const auto& f : plan.Diff.RemovedFiles) result.Planned.push_back("  delete " + f.Path);
        for (const auto& d : plan.Diff.RemovedDirectories)
            result.Planned.push_back("  delete directory " + d.Path);
    } else {
        const bool compressed = o.Mode == PatchMode::Compressed;
        for (const auto& f : plan.Diff.Published) {
            const fs::path dir = o.AbsoluteDirectories ? version / ParentOf(f.Path) : version;
            result.Planned.push_back(
                (dir / (NameOf(f.Path) + (compressed ? kCompressedSuffix : ""))).string() +
                (compressed ? ": " + f.Path + " compressed" : ": " + f.Path));
        }
        result.FileCount = plan.Diff.Published.size();
    }
    result.Planned.push_back((version / "list.inf").string());
    result.Planned.push_back((o.Repository / o.VersionFile).string() + ": " + Quote(o.Label) +
                             " listed last");
}

}  // namespace

PublishResult PublishVersion(const PublishOptions& o) {
    PublishResult result;
    Plan plan = MakePlan(o);
    result.Warnings = plan.Warnings;
    if (!plan.Errors.empty()) {
        result.Errors = plan.Errors;
        return result;
    }
    if (o.DryRun) {
        ListPlannedWrites(o, plan, result);
        return result;
    }

    std::error_code ec;
    fs::create_directories(o.Repository, ec);
    std::string suffix = "." + o.Label + ".partial-" + std::to_string(::getpid());
    fs::path stage = o.Repository / suffix;
    fs::path scratch = o.Repository / (suffix + "-work");
    fs::path final = o.Repository / o.Label;
    auto cleanup = [&] {
        std::error_code ignored;
        fs::remove_all(stage, ignored);
        fs::remove_all(scratch, ignored);
    };
    if (!fs::create_directory(stage, ec) || !fs::create_directory(scratch, ec)) {
        result.Errors.push_back("cannot create a directory in " + o.Repository.string());
        cleanup();
        return result;
    }
    std::string error;
    PublishedFiles published;
    published.Label = o.Label;
    bool ok = o.Mode == PatchMode::Packed
                  ? WritePacked(o, plan, stage, scratch, result, published, error)
                  : WritePerFile(o, plan, stage, result, published, error);
    if (ok && plan.Key) {
        auto manifest = MakeManifest(stage, plan.NewTree, published,
                                     NewestManifest(o.Repository, o.VersionFile), error);
        if (!manifest) {
            ok = false;
        } else if (!WriteFileAtomically(stage / kManifestName, FormatManifest(*manifest))) {
            ok = false;
            error = "cannot write " + (stage / kManifestName).string();
        }
    }
    if (ok) {
        // The version directory appears whole, and only then does the version list name it,
        // so a launcher never sees half a version. Its files reach the disk first: after a
        // power cut the list must not name a version whose files are empty. Every file in it
        // was written through a DownloadSink; this rename puts the new directory itself in
        // place (never over an existing version, which the plan refuses).
        if (!SyncFileSystemOf(stage)) {
            ok = false;
            error = "cannot flush " + stage.string() + " to disk: " + std::strerror(errno);
        } else if (fs::rename(stage, final, ec); ec) {
            ok = false;
            error = "cannot rename the new version into place: " + ec.message();
        } else if (!WriteFileAtomically(o.Repository / o.VersionFile, plan.VersionListText)) {
            ok = false;
            error = "cannot write " + (o.Repository / o.VersionFile).string();
            fs::remove_all(final, ec);
        }
    }
    cleanup();
    if (!ok) {
        result.Errors.push_back(error);
        return result;
    }
    if (plan.Key &&
        !WriteSignedIndex(o.Repository, o.VersionFile, *plan.Key, o.ExpiryDays, error)) {
        result.Errors.push_back(o.Label +
                                " is in the version list, but the index was not signed (" + error +
                                "); run torvane-publish sign");
        return result;
    }
    result.Published = true;
    return result;
}
