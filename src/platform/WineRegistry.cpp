#include "platform/WineRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/RunProgram.h"
#include "platform/WineRegistryExport.h"
#include "platform/WineServerGuard.h"

namespace {

int Index(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? 0 : 1;
}

const char16_t* RootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? u"HKEY_CURRENT_USER" : u"HKEY_LOCAL_MACHINE";
}

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::u16string Widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Whether `path` is `key` or lies below it (ASCII case ignored).
bool Covers(std::u16string_view key, std::u16string_view path) {
    if (path.size() < key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
        if (fold(key[i]) != fold(path[i])) return false;
    }
    return path.size() == key.size() || path[key.size()] == u'\\';
}

// A temporary directory for the files handed to Wine; removed with the object.
class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/torvane-wine-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// How Wine names a file of the Linux file system (its Z: drive is "/").
std::string WindowsPath(const std::filesystem::path& path) {
    std::string out = "Z:" + std::filesystem::absolute(path).string();
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

}  // namespace

WineRegistry::WineRegistry(WineRegistryOptions options) : options_(std::move(options)) {}

WineRegistry::~WineRegistry() {
    if (Gathering()) Commit();
}

Registry::Status WineRegistry::Fail(Status status, const std::string& problem) const {
    problem_ = problem;
    return status;
}

std::filesystem::path WineRegistry::FileFor(RegistryRoot root) const {
    return options_.Prefix / (root == RegistryRoot::CurrentUser ? "user.reg" : "system.reg");
}

std::u16string WineRegistry::PathInPrefix(RegistryRoot root, const std::string& key) const {
    auto wide = DecodeToUtf16(key, options_.CodePage);
    std::u16string path;
    for (const char16_t c : wide ? *wide : Widen(key)) {
        if (c == u'\\' && (path.empty() || path.back() == u'\\')) continue;
        path += c;
    }
    if (!path.empty() && path.back() == u'\\') path.pop_back();
    if (root == RegistryRoot::LocalMachine && options_.ClientBits == 32 &&
        Covers(u"SOFTWARE", path)) {
        path = u"Software\\Wow6432Node" + path.substr(8);
    }
    return path;
}

Registry::Status WineRegistry::CheckPrefix(RegistryRoot root, bool writing) const {
    const std::string prefix = options_.Prefix.string();
    std::error_code ec;
    const auto status = std::filesystem::status(options_.Prefix, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return Fail(Status::IoError, "Wine prefix " + prefix +
                                         " does not exist (set wine_prefix, or create it with "
                                         "\"WINEPREFIX=" +
                                         prefix + " wineboot -i\")");
    }
    if (status.type() != std::filesystem::file_type::directory) {
        return Fail(Status::IoError, "Wine prefix " + prefix + " is not a directory");
    }
    const std::filesystem::path file = FileFor(root);
    if (!std::filesystem::exists(file, ec)) {
        return Fail(Status::IoError,
                    "Wine prefix " + prefix + " is not set up: " + file.filename().string() +
                        " is missing (run \"WINEPREFIX=" + prefix + " wineboot -i\")");
    }
    if (writing && (::access(prefix.c_str(), W_OK) != 0 || ::access(file.c_str(), W_OK) != 0)) {
        return Fail(Status::IoError,
                    "Wine prefix " + prefix + " is not writable: " + std::strerror(errno));
    }
    return Status::Ok;
}

Registry::Status WineRegistry::LoadFile(RegistryRoot root, WineRegistryFile& file) const {
    const std::filesystem::path path = FileFor(root);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in || in.bad())
        return Fail(Status::IoError, "cannot read " + path.string() + ": " + std::strerror(errno));
    if (!file.Parse(bytes.str())) {
        return Fail(Status::Damaged, path.string() +
                                         " is damaged (not a Wine registry file); it was left "
                                         "as it is");
    }
    return Status::Ok;
}

Registry::Status WineRegistry::RunWine(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{options_.WineProgram};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ProgramResult result =
        RunProgram(argv, {"WINEPREFIX=" + options_.Prefix.string(), "WINEDEBUG=-all"});
    if (!result.Started) {
        return Fail(Status::IoError,
                    "cannot run \"" + options_.WineProgram +
                        "\" (needed while Wine runs in prefix " + options_.Prefix.string() + "): " +
                        std::strerror(result.Error) + "; install the wine and wine64 packages");
    }
    if (result.ExitCode != 0) {
        return Fail(Status::IoError, "\"" + options_.WineProgram + " " + arguments.front() +
                                         "\" in prefix " + options_.Prefix.string() +
                                         " failed (exit status " + std::to_string(result.ExitCode) +
                                         "): " + result.Output);
    }
    return Status::Ok;
}

Registry::Status WineRegistry::Fetch(RegistryRoot root, const std::u16string& path) const {
    auto& fetched = fetched_[Index(root)];
    for (const auto& known : fetched)
        if (Covers(known, path)) return Status::Ok;
    ScratchDirectory scratch;
    if (scratch.Path().empty())
        return Fail(Status::IoError,
                    std::string("cannot make a temporary directory: ") + std::strerror(errno));
    const std::filesystem::path exported = scratch.Path() / "export.reg";
    const std::u16string key = std::u16string(RootName(root)) + u"\\" + path;
    auto keyText = EncodeFromUtf16(key, "UTF-8");
    if (const Status s = RunWine({"regedit", "/E", WindowsPath(exported), keyText ? *keyText : ""});
        s != Status::Ok)
        return s;
    WineRegistryFile& view = view_[Index(root)];
    view.DeleteKey(path);
    std::ifstream in(exported, std::ios::binary);
    if (in) {  // no file: the key does not exist
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (!ReadRegistryExport(bytes.str(), RootName(root), view, Now())) {
            return Fail(Status::Damaged, "the export of " + Narrow(key) + " by \"" +
                                             options_.WineProgram + " regedit\" is unreadable");
        }
    }
    fetched.push_back(path);
    return Status::Ok;
}

Registry::Status WineRegistry::Read(RegistryRoot root, const std::string& key,
                                    const Look& look) const {
    if (const Status s = CheckPrefix(root, false); s != Status::Ok) return s;
    if (!Gathering()) {
        WineServerGuard guard(options_.Prefix);
        if (guard.Current() == WineServerGuard::State::Held) {
            fetched_[Index(root)].clear();  // the files are the truth now
            WineRegistryFile file;
            if (const Status s = LoadFile(root, file); s != Status::Ok) return s;
            return look(file);
        }
    }
    if (const Status s = Fetch(root, PathInPrefix(root, key)); s != Status::Ok) return s;
    return look(view_[Index(root)]);
}

Registry::Status WineRegistry::Write(RegistryRoot root, const std::string& key, const Edit& edit,
                                     const std::u16string& import) {
    if (const Status s = CheckPrefix(root, true); s != Status::Ok) return s;
    if (!Gathering()) {
        // Launchers of the same prefix take turns; the guard keeps Wine's server out.
        const std::filesystem::path lockPath = options_.Prefix / ".torvane-registry.lock";
        const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock < 0) {
            return Fail(Status::IoError,
                        "cannot open " + lockPath.string() + ": " + std::strerror(errno));
        }
        while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
        }
        Status result = Status::Ok;
        bool direct = false;
        {
            WineServerGuard guard(options_.Prefix);
            if (guard.Current() == WineServerGuard::State::Held) {
                direct = true;
                fetched_[Index(root)].clear();
                WineRegistryFile file;
                result = LoadFile(root, file);
                if (result == Status::Ok) result = edit(file, Now());
                if (result == Status::Ok && !WriteFileAtomically(FileFor(root), file.Serialize())) {
                    result = Fail(Status::IoError, "cannot replace " + FileFor(root).string() +
                                                       ": " + std::strerror(errno));
                }
            }
        }
        ::close(lock);
        if (direct) return result;
    }
    if (const Status s = Fetch(root, PathInPrefix(root, key)); s != Status::Ok) return s;
    if (const Status s = edit(view_[Index(root)], Now()); s != Status::Ok) return s;
    pending_ += import;
    return Status::Ok;
}

Registry::Status WineRegistry::Commit() {
    if (!Gathering()) return Status::Ok;
    const std::u16string changes = std::move(pending_);
    pending_.clear();
    for (auto& fetched : fetched_) fetched.clear();
    ScratchDirectory scratch;
    if (scratch.Path().empty())
        return Fail(Status::IoError,
                    std::string("cannot make a temporary directory: ") + std::strerror(errno));
    const std::filesystem::path file = scratch.Path() / "import.reg";
    if (!WriteFileAtomically(file, RegistryImportBytes(changes))) {
        return Fail(Status::IoError, "cannot write " + file.string() + ": " + std::strerror(errno));
    }
    return RunWine({"regedit", "/S", WindowsPath(file)});
}

void WineRegistry::PrepareForClientStart() {
    if (WineServerGuard(options_.Prefix).Current() == WineServerGuard::State::Running) return;
    // Wine would load a damaged registry file and write its own over it: only a prefix whose
    // files read well gets a server from us.
    for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
        WineRegistryFile file;
        if (CheckPrefix(root, false) != Status::Ok || LoadFile(root, file) != Status::Ok) return;
    }
    // wineserver lives beside the wine program (or on PATH).
    std::filesystem::path server = "wineserver";
    if (options_.WineProgram.find('/') != std::string::npos)
        server = std::filesystem::path(options_.WineProgram).parent_path() / "wineserver";
    const ProgramResult started =
        RunProgram({server.string()}, {"WINEPREFIX=" + options_.Prefix.string()});
    if (!started.Started || started.ExitCode != 0) return;  // the hand-off goes on without it
    for (int i = 0; i < 200; ++i) {
        if (WineServerGuard(options_.Prefix).Current() == WineServerGuard::State::Running) return;
        ::usleep(50000);
    }
}

Registry::Status WineRegistry::CreateKey(RegistryRoot root, const std::string& key, bool* created) {
    if (created) *created = false;
    const std::u16string path = PathInPrefix(root, key);
    bool isNew = false;
    const Status s = Write(
        root, key,
        [&](WineRegistryFile& file, std::int64_t now) {
            isNew = file.CreateKey(path, now);
            return Status::Ok;
        },
        ImportKeyLine(RootName(root), path, false));
    if (created && s == Status::Ok) *created = isNew;
    return s;
}

Registry::Status WineRegistry::OpenKey(RegistryRoot root, const std::string& key) const {
    const std::u16string path = PathInPrefix(root, key);
    return Read(root, key, [&](const WineRegistryFile& file) {
        return file.HasKey(path) ? Status::Ok : Status::NotFound;
    });
}

Registry::Status WineRegistry::DeleteKey(RegistryRoot root, const std::string& key) {
    const std::u16string path = PathInPrefix(root, key);
    return Write(
        root, key,
        [&](WineRegistryFile& file, std::int64_t) {
            return file.DeleteKey(path) ? Status::Ok : Status::NotFound;
        },
        ImportKeyLine(RootName(root), path, true));
}

Registry::Status WineRegistry::ReadValue(
    RegistryRoot root, const std::string& key, const std::string& name,
    WineRegistryFile::Value::Kind kind,
    const std::function<Status(const WineRegistryFile::Value&)>& use) const {
    const std::u16string path = PathInPrefix(root, key);
    return Read(root, key, [&](const WineRegistryFile& file) {
        const auto found = file.FindValue(path, Widen(name));
        if (!found) return Status::NotFound;
        if (found->Type != kind) return Status::WrongType;
        return use(*found);
    });
}

Registry::Status WineRegistry::QueryString(RegistryRoot root, const std::string& key,
                                           const std::string& name, std::string* value) const {
    return ReadValue(root, key, name, WineRegistryFile::Value::Kind::Text,
                     [&](const WineRegistryFile::Value& found) {
                         std::size_t bad = 0;
                         const auto bytes = EncodeFromUtf16(found.Text, options_.CodePage, &bad);
                         if (!bytes) {
                             return Fail(Status::WrongType,
                                         "the text \"" + name + "\" of " +
                                             Narrow(PathInPrefix(root, key)) + " in Wine prefix " +
                                             options_.Prefix.string() +
                                             " has a character (position " + std::to_string(bad) +
                                             ") that " + options_.CodePage + " cannot hold");
                         }
                         if (value) *value = *bytes;
                         return Status::Ok;
                     });
}

Registry::Status WineRegistry::QueryDword(RegistryRoot root, const std::string& key,
                                          const std::string& name, std::uint32_t* value) const {
    return ReadValue(root, key, name, WineRegistryFile::Value::Kind::Dword,
                     [&](const WineRegistryFile::Value& found) {
                         if (value) *value = found.Number;
                         return Status::Ok;
                     });
}

Registry::Status WineRegistry::SetString(RegistryRoot root, const std::string& key,
                                         const std::string& name, const std::string& value,
                                         TextEnd end) {
    std::size_t bad = 0;
    const auto text = DecodeToUtf16(value, options_.CodePage, &bad);
    if (!text) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X",
                      bad < value.size() ? static_cast<unsigned char>(value[bad]) : 0u);
        return Fail(Status::IoError, "the text for \"" + name + "\" has byte " + byte +
                                         " at offset " + std::to_string(bad) + " that " +
                                         options_.CodePage + " cannot decode; nothing was written");
    }
    const std::u16string path = PathInPrefix(root, key);
    const bool terminated = end == TextEnd::Terminated;
    return Write(
        root, key,
        [&](WineRegistryFile& file, std::int64_t now) {
            file.SetText(path, Widen(name), *text, terminated, now);
            return Status::Ok;
        },
        ImportTextLine(RootName(root), path, Widen(name), *text, terminated));
}

Registry::Status WineRegistry::SetDword(RegistryRoot root, const std::string& key,
                                        const std::string& name, std::uint32_t value) {
    const std::u16string path = PathInPrefix(root, key);
    return Write(
        root, key,
        [&](WineRegistryFile& file, std::int64_t now) {
            file.SetDword(path, Widen(name), value, now);
            return Status::Ok;
        },
        ImportDwordLine(RootName(root), path, Widen(name), value));
}

Registry::Status WineRegistry::DeleteValue(RegistryRoot root, const std::string& key,
                                           const std::string& name) {
    const std::u16string path = PathInPrefix(root, key);
    return Write(
        root, key,
        [&](WineRegistryFile& file, std::int64_t) {
            return file.DeleteValue(path, Widen(name)) ? Status::Ok : Status::NotFound;
        },
        ImportDeleteValueLine(RootName(root), path, Widen(name)));
}
