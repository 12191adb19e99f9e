// Runs one FTP patch session on a game directory, printing what the window would show.
//
//   patch-session-driver GAME_DIR HOST PORT USER PASSWORD VERSION_FILE [KILL_AT_PUMP]
//   patch-session-driver --http GAME_DIR HOST[:PORT] VERSION_FILE
//
// With KILL_AT_PUMP the process sends itself SIGKILL at that pump, the way a crash or a
// killed launcher ends a session: no destructor, no flush, no cleanup. Exit status 0 when the
// session succeeded, 1 when it failed, 2 on bad arguments. The last line is "pumps N".
// With $TORVANE_TRUSTED_KEY (the base64 line of a minisign public key) the session verifies
// the repository with it, as a deployment with trusted_key does.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "patch/FtpPatchSession.h"
#include "patch/HttpPatchSession.h"
#include "patch/PatchEngine.h"
#include "patch/PatchHost.h"
#include "patch/RepositoryVerifier.h"
#include "platform/GamePath.h"

namespace {

class PrintingHost : public PatchHost {
public:
    explicit PrintingHost(long killAt) : killAt_(killAt) {}
    long Pumps = 0;

    std::string MessageText(int number) override { return "msg" + std::to_string(number); }
    void SetStatusText(int number) override { std::printf("status %d\n", number); }
    void SetStatusText(const std::string& text) override {
        std::printf("status-text %s\n", text.c_str());
    }
    void SetBarRange(PatchBar, int) override {}
    void SetBarPosition(PatchBar bar, int position) override {
        if (bar == PatchBar::Total) std::printf("total %d\n", position);
    }
    int GetBarPosition(PatchBar) override { return 0; }
    int GetBarPercent(PatchBar) override { return 0; }
    void UpdateProgressText() override {}
    void RefreshWindow() override {}
    bool PumpOneEvent() override {
        ++Pumps;
        if (killAt_ > 0 && Pumps == killAt_) {
            std::fflush(stdout);
            ::raise(SIGKILL);
        }
        return false;
    }
    void ShowMessageBox(const std::string& text, const std::string&, MessageBoxIcon) override {
        std::printf("box %s\n", text.c_str());
    }
    void ShowFormattedMessage(const std::string& text) override {
        std::printf("box %s\n", text.c_str());
    }
    void OnConnectReady() override { std::printf("ready\n"); }
    void ShowStartButton() override {}
    void HideStartButton() override {}
    void CloseMainWindow() override { std::printf("close\n"); }
    void StartGameAfterPatch() override { std::printf("start-game\n"); }
    void CloseConnectServerConnection() override {}

private:
    long killAt_;
};

// A verifier for $TORVANE_TRUSTED_KEY, hooked into `engine`; null without the variable.
std::unique_ptr<RepositoryVerifier> VerifierFromEnvironment(PatchEngine& engine, const char* game) {
    const char* key = std::getenv("TORVANE_TRUSTED_KEY");
    if (!key || !*key) return nullptr;
    std::vector<std::string> problems;
    auto keys = RepositoryVerifier::ParseTrustedKeys({key}, problems);
    for (const auto& p : problems) std::fprintf(stderr, "%s\n", p.c_str());
    auto verifier = std::make_unique<RepositoryVerifier>(
        std::move(keys), std::filesystem::path(game) / RepositoryVerifier::kSerialFileName);
    engine.Verifier = verifier.get();
    return verifier;
}

}  // namespace

int RunHttp(const char* game, const char* host, const char* versionFile) {
    PrintingHost host0(0);
    PatchEngine engine(host0, GamePath(game));
    engine.LoadLocalVersion();
    const auto verifier = VerifierFromEnvironment(engine, game);
    PatchServerAddress server;
    server.Host = host;
    server.VersionFile = versionFile;
    HttpPatchSession session(engine);
    session.SetHttpPatchServer(server);
    session.StartHttpPatch();
    session.Wait();
    return engine.PatchDone.load() == 1 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--http") return RunHttp(argv[2], argv[3], argv[4]);
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr, "usage: %s GAME HOST PORT USER PASSWORD VERSION_FILE [KILL_AT]\n",
                     argv[0]);
        return 2;
    }
    PrintingHost host(argc == 8 ? std::atol(argv[7]) : 0);
    PatchEngine engine(host, GamePath(argv[1]));
    engine.LoadLocalVersion();
    const auto verifier = VerifierFromEnvironment(engine, argv[1]);
    bool ok = false;
    {
        FtpPatchSession session(engine, 10);
        ok = session.RunFtpPatch(argv[2], static_cast<std::uint16_t>(std::atoi(argv[3])), argv[4],
                                 argv[5], argv[6]);
    }
    std::printf("pumps %ld\n", host.Pumps);
    return ok ? 0 : 1;
}
