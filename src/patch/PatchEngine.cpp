#include "patch/PatchEngine.h"

#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

#include "patch/RepositoryVerifier.h"
#include "platform/AsciiText.h"
#include "platform/ProfileFile.h"
#include "text/MessageNumbers.h"

namespace {

constexpr const char* kConfigFile = "config.ini";
constexpr const char* kLoginSection = "LOGIN";

// The value of `key`, read the way the launcher always has: default "0.0.0", 10-byte buffer,
// so at most 9 characters count.
VersionNumber ReadConfigVersion(const std::filesystem::path& config, const char* key) {
    char buffer[10]{};
    GetPrivateProfileStringA(kLoginSection, key, "0.0.0", buffer, sizeof buffer, config);
    return VersionNumber::Parse(std::string_view(buffer, std::strlen(buffer)));
}

}  // namespace

PatchEngine::PatchEngine(PatchHost& host, GamePath gameDirectory, LaunchSettings launch)
    : Launch(launch),
      host_(host),
      gameDirectory_(std::move(gameDirectory)),
      log_(gameDirectory_.Resolve(kLogFileName).value_or(gameDirectory_.Root() / kLogFileName)) {}

std::optional<std::filesystem::path> PatchEngine::Resolve(std::string_view gameName) const {
    return gameDirectory_.Resolve(gameName);
}

bool PatchEngine::RefuseUnverified(int messageNumber, std::string_view gameName) {
    if (!gameName.empty()) RemoveGameFile(gameName);
    host_.SetStatusText(messageNumber);
    const std::string cause = Verifier ? Verifier->Failure() : std::string("no verifier");
    std::fprintf(stderr, "torvane: patch server %s:%u refused: %s\n", ServerHost.c_str(),
                 static_cast<unsigned>(ServerPort), cause.c_str());
    return false;
}

std::optional<std::filesystem::path> PatchEngine::MetadataScratch(std::string_view name) {
    const auto path = Resolve(std::string(kTempDirectory) + "\\" + std::string(name));
    if (!path) return std::nullopt;
    std::error_code ec;
    std::filesystem::create_directories(path->parent_path(), ec);
    std::filesystem::remove(*path, ec);
    return path;
}

bool PatchEngine::RemoveGameFile(std::string_view gameName) const {
    const auto file = Resolve(gameName);
    if (!file) return false;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(*file, ec);
    if (std::filesystem::is_directory(status)) return false;
    if (std::filesystem::remove(*file, ec) && !ec) gameDirectory_.NoteRemoved(*file);
    return !ec;
}

void PatchEngine::SetProgressCaption(std::string caption) {
    std::lock_guard<std::mutex> lock(captionMutex_);
    progressCaption_ = std::move(caption);
}

std::string PatchEngine::ProgressCaption() const {
    std::lock_guard<std::mutex> lock(captionMutex_);
    return progressCaption_;
}

void PatchEngine::Pump() {
    if (pumpEvents_) host_.PumpOneEvent();
}

void PatchEngine::EndSessionCurrent() {
    PatchDone = 1;
    StopTransfer = 1;
    host_.OnConnectReady();
}

void PatchEngine::LoadLocalVersion() {
    if (Launch.Mode == kLaunchGivenVersion) {
        CurrentVersion = VersionNumber{Launch.CommandLineVersion[0], Launch.CommandLineVersion[1],
                                       Launch.CommandLineVersion[2]};
        return;
    }
    const auto config = Resolve(kConfigFile);
    const VersionNumber version = ReadConfigVersion(*config, "Version");
    const VersionNumber testVersion = ReadConfigVersion(*config, "TestVersion");
    if (Launch.Mode == kLaunchTestClient) {
        CurrentVersion = version.Packed() > testVersion.Packed() ? version : testVersion;
    } else {
        CurrentVersion = version;
    }
}

bool PatchEngine::SaveLocalVersion() {
    const auto config = Resolve(kConfigFile);
    const std::string text = CurrentVersion.ConfigText();
    bool saved = true;
    if (Launch.Mode == kLaunchTestClient) {
        saved = WritePrivateProfileStringA(kLoginSection, "TestVersion", text.c_str(), *config);
    }
    if (saved && !Launch.TestServer) {
        saved = WritePrivateProfileStringA(kLoginSection, "Version", text.c_str(), *config);
    }
    if (!saved) ReportFailure("cannot record version " + text, *config, errno);
    return saved;
}

void PatchEngine::ReportFailure(std::string_view what, const std::filesystem::path& where,
                                int error) const {
    std::string line = "torvane: " + std::string(what) + ": " + where.string();
    if (error != 0) line += ": " + std::error_code(error, std::generic_category()).message();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool PatchEngine::IsUsableVersionFileName(std::string_view name) const {
    // The files the game and the launcher keep in the game directory under fixed names.
    const std::string_view ownFiles[] = {GameClientName, kProgramFileName, kConfigFile,
                                         "message.wtf",  kLogFileName,     kPatchListName,
                                         "kamsg.dll",    "vk_zp.dll"};
    bool usable = !name.empty() && name.find_first_of("/\\:") == std::string_view::npos &&
                  name != "." && name != ".." && GamePath::IsSafe(name);
    for (const std::string_view own : ownFiles) {
        if (EqualsIgnoringAsciiCase(name, own)) usable = false;
    }
    if (usable) {
        // Nor may it be a directory of the game (the list is written over the name).
        std::error_code ec;
        const auto path = Resolve(name);
        usable = path && !std::filesystem::is_directory(std::filesystem::symlink_status(*path, ec));
    }
    if (!usable) {
        ReportFailure("the patch server's version list \"" + std::string(name) +
                          "\" is not a file name the launcher may write",
                      gameDirectory_.Root());
    }
    return usable;
}

bool PatchEngine::LoadVersionList(std::string_view fileName) {
    host_.SetStatusText(kMsgReadingVersionList);
    VersionList.clear();
    const auto file = Resolve(fileName);
    if (!file || !TokenReader.OpenTokenFile(*file)) {
        host_.SetStatusText(kMsgVersionListUnreadable);
        return false;
    }
    for (TokenKind kind; (kind = TokenReader.ReadToken()) != TokenEnd;) {
        if (kind != TokenName) continue;
        const std::string& label = TokenReader.TokenText();
        // A label is also a directory name on the server and must fit its 8 characters;
        // a longer one is no version of ours and is passed over.
        if (TokenReader.TokenTruncated() || label.size() >= sizeof VersionEntry{}.Label) continue;
        VersionEntry entry;
        std::memcpy(entry.Label, label.data(), label.size());
        const VersionNumber version = VersionNumber::Parse(label);
        entry.Major = version.Major;
        entry.Minor = version.Minor;
        entry.Build = version.Build;
        entry.Packed = version.Packed();
        VersionList.push_back(entry);
        if (static_cast<int>(VersionList.size()) > kMaxVersionEntries) {
            TokenReader.CloseTokenFile();
            host_.SetStatusText(kMsgTooManyVersions);
            return false;
        }
    }
    TokenReader.CloseTokenFile();
    return true;
}

bool PatchEngine::ReadPatchListFlag(std::string_view key) {
    const auto file = Resolve(kPatchListName);
    if (!file || !TokenReader.OpenTokenFile(*file)) {
        host_.SetStatusText(kMsgVersionListUnreadable);
        return false;
    }
    for (TokenKind kind; (kind = TokenReader.ReadToken()) != TokenEnd;) {
        if (kind == TokenKey && EqualsIgnoringAsciiCase(TokenReader.TokenText(), key)) {
            TokenReader.CloseTokenFile();
            return true;
        }
    }
    TokenReader.CloseTokenFile();
    return false;
}

void PatchEngine::ReadPatchListFlags() {
    ListFlags.TestServer = ReadPatchListFlag("TEST_SERVER");
    Launch.TestServer = ListFlags.TestServer;
    ListFlags.Compressed = ReadPatchListFlag("COMPRESSED");
    ListFlags.NewToolVersion = ReadPatchListFlag("NEWTOOLVERSION");
    ListFlags.PackingVersion = ReadPatchListFlag("PACKINGVERSION");
}

std::optional<PatchList> PatchEngine::ReadCurrentPatchList() const {
    const auto file = Resolve(kPatchListName);
    if (!file) return std::nullopt;
    return ReadPatchList(*file);
}

std::optional<PatchList> PatchEngine::ScanCurrentPatchList() const {
    const auto file = Resolve(kPatchListName);
    if (!file) return std::nullopt;
    return ScanPatchList(*file);
}

bool PatchEngine::AppendVersionLine() {
    if (AppendLogLine('V', VersionNumber::FromPacked(TargetVersion).LogText())) return true;
    ReportFailure("cannot write the patch log", log_.File(), errno);
    return false;
}
