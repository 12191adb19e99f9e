#include "patch/HttpPatchSession.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "patch/RepositoryVerifier.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "text/MessageNumbers.h"

namespace fs = std::filesystem;

namespace {

// Lists are read whole by the token reader: a download beyond its limit is refused as it
// arrives. An archive with an announced length is held to it; one sent in chunks without a
// length is bounded here, far above any patch, so an endless body cannot fill the disk.
constexpr std::uint64_t kMaxListBytes = CTokenReader::kMaxFileSize;
constexpr std::uint64_t kMaxArchiveBytes = std::uint64_t{64} << 30;

// "http://%s/%s?time=%d" (or https)
std::string VersionListUrl(const std::string& scheme, const std::string& host,
                           const std::string& file, std::int32_t tick) {
    return scheme + "://" + host + "/" + file + "?time=" + std::to_string(tick);
}

// "http://%s/%s/%s?time=%d" (or https)
std::string PatchFileUrl(const std::string& scheme, const std::string& host,
                         const std::string& label, const std::string& file, std::int32_t tick) {
    return scheme + "://" + host + "/" + label + "/" + file + "?time=" + std::to_string(tick);
}

}  // namespace

HttpPatchSession::HttpPatchSession(PatchEngine& engine, int stallSeconds)
    : engine_(engine), host_(engine.Host()), stallSeconds_(stallSeconds) {}

HttpPatchSession::~HttpPatchSession() {
    Stop();
}

void HttpPatchSession::SetHttpPatchServer(const PatchServerAddress& server) {
    engine_.ServerHost = server.Host;
    engine_.ServerPort = server.Port;
    engine_.ServerUser = server.User;
    engine_.ServerPassword = server.Password;
    engine_.VersionFileName = server.VersionFile;
}

bool HttpPatchSession::StartHttpPatch(std::function<void()> onEnded) {
    Stop();
    // The list is downloaded over its name: a name of the game's own files would cost the
    // player that file.
    if (!engine_.IsUsableVersionFileName(engine_.VersionFileName)) {
        host_.SetStatusText(kMsgDownloadFailed);
        return false;
    }
    engine_.RemoveStaleTemporaries();
    engine_.RemoveGameFile(engine_.VersionFileName);
    host_.SetStatusText(kMsgFetchingVersionList);
    host_.SetBarRange(PatchBar::File, 100);
    host_.HideStartButton();
    stop_ = 0;
    running_ = 1;
    engine_.SetPumpEvents(false);
    worker_ = std::thread([this, onEnded = std::move(onEnded)] {
        HttpPatchThread();
        running_ = 0;
        if (onEnded) onEnded();
    });
    return true;
}

void HttpPatchSession::SetTransport(const std::string& scheme, const fs::path& caFile) {
    scheme_ = scheme == "https" ? "https" : "http";
    caFile_ = caFile;
}

void HttpPatchSession::Stop() {
    stop_ = 1;
    if (worker_.joinable()) worker_.join();
    engine_.SetPumpEvents(true);
}

void HttpPatchSession::Wait() {
    if (worker_.joinable()) worker_.join();
    engine_.SetPumpEvents(true);
}

std::int32_t HttpPatchSession::NextQueryValue() {
    std::int64_t tick = static_cast<std::int32_t>(TickCount());
    if (tick <= lastQuery_ && lastQuery_ - tick < 1000) tick = lastQuery_ + 1;
    lastQuery_ = tick;
    return static_cast<std::int32_t>(tick);
}

void HttpPatchSession::OnProgress(std::uint64_t progress, std::uint64_t maximum) {
    if (maximum != 0) {
        host_.SetBarPosition(
            PatchBar::File,
            static_cast<int>((progress > maximum ? maximum : progress) * 100 / maximum));
    } else {
        int position = host_.GetBarPosition(PatchBar::File);
        if (position < 1) position = 1;
        host_.SetBarPosition(PatchBar::File, position + 1);
    }
    host_.RefreshWindow();
}

bool HttpPatchSession::Download(const std::string& url, const std::string& localPath,
                                std::uint64_t maxBytes, bool resumable,
                                const SignedDownload* signedFile) {
    downloadRefused_ = false;
    const auto local = engine_.Resolve(localPath);
    if (!local || Stopping()) return false;
    std::error_code ec;
    fs::create_directories(local->parent_path(), ec);
    host_.SetBarPosition(PatchBar::File, 0);  // the start of a binding
    // The name people know the transfer by: the URL's last part, without the query.
    const std::string path = url.substr(0, url.find('?'));
    TransferProgress progress;
    progress.Name = path.substr(path.rfind('/') + 1);
    host_.OnTransferProgress(progress);
    HttpClient::Options options;
    options.StallSeconds = stallSeconds_;
    options.CaFile = caFile_;
    options.Notice = [this](const std::string& text) { host_.LogEvent(text); };
    HttpClient client(options);
    Progress watcher(
        [this, &progress](std::uint64_t got, std::uint64_t total) {
            progress.Done = got;
            progress.Total = total;
            host_.OnTransferProgress(progress);
            OnProgress(got, total);
        },
        [this] { return Stopping(); });
    // The query differs on every run: the kept bytes belong to the path.
    DownloadExpectation expected;
    if (signedFile) expected = signedFile->Expected;
    if (maxBytes > 0 && !expected.Size) expected.MaxSize = maxBytes;
    const auto result = client.Download(url, *local, &watcher, expected, resumable ? path : "");
    if (result == HttpClient::Result::Ok) {
        const std::string resumed =
            client.ResumedAt() > 0 && !client.StartedOver()
                ? ", " + std::to_string(client.ResumedAt()) + " of them kept from an earlier run"
                : "";
        host_.LogEvent("downloaded " + path + " (" + std::to_string(progress.Done) + " bytes" +
                       resumed + ") to " + local->string());
    } else if (result == HttpClient::Result::Failed) {
        host_.LogFailure("download of " + path + " to " + local->string() +
                         " failed: " + client.LastErrorText());
        if (signedFile && client.Refused())
            downloadRefused_ =
                !engine_.Verifier->RefuseDownload(*signedFile, client.LastErrorText());
    }
    return result == HttpClient::Result::Ok;
}

bool HttpPatchSession::FetchSignedIndex(const std::string& host) {
    const std::string index =
        std::string(PatchEngine::kTempDirectory) + "\\" + kRepositoryIndexName;
    const std::string signature =
        std::string(PatchEngine::kTempDirectory) + "\\" + kRepositoryIndexSignatureName;
    const auto indexPath = engine_.MetadataScratch(kRepositoryIndexName);
    const auto signaturePath = engine_.MetadataScratch(kRepositoryIndexSignatureName);
    if (!indexPath || !signaturePath) return false;
    // A file the server lacks is simply absent here; the verifier says which one.
    Download(VersionListUrl(scheme_, host, kRepositoryIndexName, NextQueryValue()), index,
             RepositoryVerifier::kMaxIndexBytes);
    Download(VersionListUrl(scheme_, host, kRepositoryIndexSignatureName, NextQueryValue()),
             signature, RepositoryVerifier::kMaxSignatureBytes);
    if (Stopping()) return false;
    const bool accepted = engine_.Verifier->AcceptIndex(*indexPath, *signaturePath);
    engine_.RemoveGameFile(index);
    engine_.RemoveGameFile(signature);
    return accepted || engine_.RefuseUnverified(kMsgDownloadFailed, {});
}

bool HttpPatchSession::FetchManifest(const std::string& host, const std::string& label) {
    const std::string manifest = std::string(PatchEngine::kTempDirectory) + "\\" + kManifestName;
    const auto manifestPath = engine_.MetadataScratch(kManifestName);
    if (!manifestPath) return false;
    Download(PatchFileUrl(scheme_, host, label, kManifestName, NextQueryValue()), manifest,
             RepositoryVerifier::kMaxManifestBytes);
    if (Stopping()) return false;
    const bool accepted = engine_.Verifier->AcceptManifest(label, *manifestPath);
    engine_.RemoveGameFile(manifest);
    const auto list = engine_.Resolve(PatchEngine::kPatchListName);
    if (!accepted || !list || !engine_.Verifier->CheckList(*list))
        return engine_.RefuseUnverified(kMsgDownloadFailed, PatchEngine::kPatchListName);
    return true;
}

void HttpPatchSession::HttpPatchThread() {
    const std::string host = engine_.ServerHost;
    const std::string versionFile = engine_.VersionFileName;
    if (engine_.Verifier && !FetchSignedIndex(host)) return;
    if (!Download(VersionListUrl(scheme_, host, versionFile, NextQueryValue()), versionFile,
                  kMaxListBytes)) {
        if (!Stopping()) host_.SetStatusText(kMsgDownloadFailed);
        return;
    }
    if (engine_.Verifier) {
        const auto local = engine_.Resolve(versionFile);
        if (!local || !engine_.Verifier->CheckVersionFile(versionFile, *local)) {
            engine_.RefuseUnverified(kMsgDownloadFailed, versionFile);
            return;
        }
    }
    if (Stopping() || !engine_.LoadVersionList(versionFile)) return;

    engine_.SelfUpdatePending = 0;
    const std::int32_t current = engine_.CurrentVersion.Packed();
    const auto& list = engine_.VersionList;
    // Everything after the last entry that is not newer is pending.
    std::size_t first = 0;
    for (std::size_t i = list.size(); i > 0; --i) {
        if (list[i - 1].Packed <= current) {
            first = i;
            break;
        }
    }
    const int pending = static_cast<int>(list.size() - first);
    host_.SetBarRange(PatchBar::Total, pending);

    if (pending == 0) {
        for (PatchBar bar : {PatchBar::Total, PatchBar::File}) {
            host_.SetBarRange(bar, 1);
            host_.SetBarPosition(bar, 1);
        }
        host_.RefreshWindow();
        engine_.RemoveGameFile(versionFile);
        engine_.EndSessionCurrent();
        return;
    }

    for (int n = 1; n <= pending; ++n) {
        const VersionEntry entry = list[first + static_cast<std::size_t>(n - 1)];
        engine_.SetProgressCaption(host_.MessageText(kMsgPatchCaption) + " " + std::to_string(n) +
                                   "/" + std::to_string(pending));
        host_.UpdateProgressText();
        engine_.TargetVersion = entry.Packed;
        host_.LogEvent("version " + std::string(entry.Label) + " (" + std::to_string(n) + " of " +
                       std::to_string(pending) + ") from http://" + host + "/" + entry.Label);
        const bool applied = DownloadHttpPatch(host, entry.Label);
        engine_.RemoveGameFile(PatchEngine::kPatchListName);
        if (!applied || Stopping()) return;
        engine_.CurrentVersion = VersionNumber{entry.Major, entry.Minor, entry.Build};
        host_.LogEvent("version " + std::string(entry.Label) + " installed");
        if (engine_.SelfUpdatePending) {
            host_.StartGameAfterPatch();
            return;
        }
        host_.SetBarPosition(PatchBar::Total, n);
        host_.RefreshWindow();
    }

    engine_.RemoveGameFile(versionFile);
    host_.SetStatusText(kMsgPatchComplete);
    engine_.EndSessionCurrent();
}

bool HttpPatchSession::DownloadHttpPatch(const std::string& host, const std::string& label) {
    if (!Download(PatchFileUrl(scheme_, host, label, PatchEngine::kPatchListName, NextQueryValue()),
                  PatchEngine::kPatchListName, kMaxListBytes)) {
        if (!Stopping()) host_.SetStatusText(kMsgDownloadFailed);
        return false;
    }
    if (engine_.Verifier && !FetchManifest(host, label)) return false;
    host_.SetStatusText(kMsgListingFiles);
    const auto list = engine_.ReadCurrentPatchList();
    if (!list || !list->IsUsable()) {
        host_.SetStatusText(kMsgPatchListUnreadable);
        return false;
    }
    // Every HTTP patch is packed and applied as it is: the list's flags are not consulted.
    // The archive comes first: its deletions are applied only once it is here and whole.
    host_.SetStatusText(kMsgDownloadingFiles);
    const std::string archive =
        std::string(PatchEngine::kTempDirectory) + "\\" + PatchEngine::kArchiveName;
    // A verified archive is bounded by its signed size, not only by the largest possible, and
    // its hash is taken as it arrives.
    std::optional<SignedDownload> signedArchive;
    if (engine_.Verifier) {
        signedArchive = engine_.Verifier->ArchiveExpectation();
        if (!signedArchive) return engine_.RefuseUnverified(kMsgPatchFailed, {});
    }
    // The archive is the one big download: an interrupted one continues on the next run.
    if (!Download(PatchFileUrl(scheme_, host, label, PatchEngine::kArchiveName, NextQueryValue()),
                  archive, kMaxArchiveBytes, true, signedArchive ? &*signedArchive : nullptr)) {
        if (downloadRefused_) return engine_.RefuseUnverified(kMsgPatchFailed, archive);
        if (!Stopping()) host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
    if (Stopping()) return false;
    try {
        return engine_.ApplyPackedArchive(*list, archive, [this] { return Stopping(); });
    } catch (...) {
        // A damaged archive: the session ends here with the window usable.
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
}
