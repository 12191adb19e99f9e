#include "cli/CliVerify.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/PatchServerQuery.h"
#include "patch/GameRepair.h"
#include "patch/InstalledGameCheck.h"
#include "patch/RepositoryFetcher.h"
#include "patch/RepositoryVerifier.h"
#include "patch/VersionNumber.h"
#include "platform/FtpClient.h"
#include "platform/GamePath.h"
#include "platform/ProfileFile.h"

namespace fs = std::filesystem;

namespace {

enum ExitStatus { kWhole = 0, kNotWhole = 1 };

class VerifyRun {
public:
    VerifyRun(const DeploymentSettings& settings, const fs::path& gameDirectory, std::FILE* out,
              std::FILE* err)
        : settings_(settings),
          game_(gameDirectory),
          work_(gameDirectory / "Temp" / "verify"),
          out_(out),
          err_(err) {}
    ~VerifyRun() {
        std::error_code ec;
        fs::remove_all(work_, ec);
        fs::remove(work_.parent_path(), ec);  // "Temp" only when it is empty
    }

    int Run(bool repair);

private:
    bool Fail(const std::string& why) {
        std::fprintf(err_, "torvane-cli: %s\n", why.c_str());
        return false;
    }
    bool Connect();
    bool LoadManifest();
    void Report(const std::vector<InstalledFileProblem>& problems);

    const DeploymentSettings& settings_;
    GamePath game_;
    fs::path work_;
    std::FILE* out_;
    std::FILE* err_;
    std::unique_ptr<RepositoryVerifier> verifier_;
    std::shared_ptr<FtpClient> ftp_;
    std::unique_ptr<RepositoryFetcher> fetcher_;
};

bool VerifyRun::Connect() {
    std::string error;
    const auto answer = QueryPatchServer(settings_.ConnectAddress, settings_.ConnectPort,
                                         settings_.TransferStallSeconds * 1000, error);
    if (!answer) return Fail(error);
    const PatchServerInfo& server = answer->Server;
    if (answer->Http) {
        fetcher_ = MakeHttpFetcher(settings_.HttpScheme, server.HostText(), settings_.CaFile,
                                   settings_.TransferStallSeconds);
        return true;
    }
    FtpClient::Options options;
    options.StallSeconds = settings_.TransferStallSeconds;
    ftp_ = std::make_shared<FtpClient>(options);
    if (!ftp_->Connect(server.HostText(), server.Port, server.UserText(), server.PasswordText()))
        return Fail("patch server " + server.HostText() + ":" + std::to_string(server.Port) + ": " +
                    ftp_->LastErrorText());
    fetcher_ = MakeFtpFetcher(ftp_);
    return true;
}

bool VerifyRun::LoadManifest() {
    std::error_code ec;
    fs::create_directories(work_, ec);
    const fs::path index = work_ / kRepositoryIndexName;
    const fs::path signature = work_ / kRepositoryIndexSignatureName;
    if (!fetcher_->Fetch(kRepositoryIndexName, index,
                         DownloadExpectation::AtMost(RepositoryVerifier::kMaxIndexBytes)) ||
        !fetcher_->Fetch(kRepositoryIndexSignatureName, signature,
                         DownloadExpectation::AtMost(RepositoryVerifier::kMaxSignatureBytes)))
        return Fail(fetcher_->Failure() + " (the patch server's repository is not signed?)");
    if (!verifier_->AcceptIndex(index, signature)) return Fail(verifier_->Failure());

    // The installed version, as config.ini records it, is found among the index's labels.
    const auto config = game_.Resolve("config.ini");
    char text[10]{};
    GetPrivateProfileStringA("LOGIN", "Version", "0.0.0", text, sizeof text, *config);
    const VersionNumber installed = VersionNumber::Parse(std::string_view(text, std::strlen(text)));
    const IndexedVersion* version = nullptr;
    for (const auto& candidate : verifier_->Index()->Versions) {
        if (VersionNumber::Parse(candidate.Label) == installed) version = &candidate;
    }
    if (!version)
        return Fail("version " + installed.ConfigText() + " of " + config->string() +
                    " is not in the patch server's signed index");
    const fs::path manifest = work_ / kManifestName;
    if (!fetcher_->Fetch(version->Label + "/" + kManifestName, manifest,
                         DownloadExpectation::AtMost(RepositoryVerifier::kMaxManifestBytes)))
        return Fail(fetcher_->Failure());
    if (!verifier_->AcceptManifest(version->Label, manifest)) return Fail(verifier_->Failure());
    return true;
}

void VerifyRun::Report(const std::vector<InstalledFileProblem>& problems) {
    for (const auto& problem : problems) {
        std::fprintf(out_, "%s\n", ProblemLine(problem).c_str());
        std::fprintf(err_, "torvane-cli: %s\n", ProblemDetail(problem).c_str());
    }
    std::fflush(out_);
}

int VerifyRun::Run(bool repair) {
    std::vector<std::string> problems;
    auto keys = RepositoryVerifier::ParseTrustedKeys(settings_.TrustedKeys, problems);
    for (const auto& problem : problems) Fail("settings: " + problem);
    if (settings_.TrustedKeys.empty()) {
        Fail(
            "checking the game needs the deployment's trusted_key: without it the "
            "repository's manifests prove nothing");
        return kNotWhole;
    }
    verifier_ = std::make_unique<RepositoryVerifier>(
        std::move(keys), game_.Root() / RepositoryVerifier::kSerialFileName);
    if (!Connect() || !LoadManifest()) return kNotWhole;

    const Manifest& manifest = *verifier_->CurrentManifest();
    auto found = CheckInstalledGame(game_, manifest);
    Report(found);
    if (!repair || found.empty()) return found.empty() ? kWhole : kNotWhole;

    GameRepair repairer(game_, *fetcher_, *verifier_);
    for (const auto& problem : found) {
        if (repairer.Repair(*problem.File))
            std::fprintf(out_, "repaired: %s\n", problem.File->Path.c_str());
        else
            Fail("cannot repair " + problem.File->Path + ": " + repairer.Failure());
    }
    std::fflush(out_);
    // What the game is now, not what the repair believes it did.
    const auto left = CheckInstalledGame(game_, manifest);
    if (!left.empty()) {
        Fail("still not whole after the repair:");
        Report(left);
    }
    return left.empty() ? kWhole : kNotWhole;
}

}  // namespace

int RunVerify(const DeploymentSettings& settings, const fs::path& gameDirectory, bool repair,
              std::FILE* out, std::FILE* err) {
    VerifyRun run(settings, gameDirectory, out, err);
    return run.Run(repair);
}
