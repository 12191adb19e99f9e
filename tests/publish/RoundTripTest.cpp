// The round trip: five versions published in every form, checked, served by real FTP and HTTP
// servers, and patched into an empty game directory by the terminal launcher. The result must
// be the newest tree, except for what the launcher renames or keeps by design.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <set>

#include "GameVersions.h"
#include "PublishFixture.h"
#include "Publisher.h"
#include "RepositoryChecker.h"
#include "TreeScan.h"
#include "patch/FtpPatchSession.h"
#include "patch/HttpPatchSession.h"
#include "patch/PatchEngine.h"
#include "patch/QuietPatchHost.h"
#include "platform/ProfileFile.h"
#include "support/PatchServers.h"

namespace fs = std::filesystem;
using namespace publishtest;
using testing::IsEmpty;

namespace {

struct Form {
    const char* Name;
    PatchMode Mode;
    bool Absolute;
};

const Form kForms[] = {
    {"packed", PatchMode::Packed, false},
    {"files", PatchMode::Files, false},
    {"compressed", PatchMode::Compressed, false},
    {"compressed-absolute", PatchMode::Compressed, true},
    {"files-absolute", PatchMode::Files, true},
};

// Publishes every version into `repo`; each from the previous one's tree.
void PublishAll(const fs::path& work, const fs::path& repo, const Form& form) {
    auto versions = FiveGameVersions();
    std::optional<fs::path> previous;
    for (const auto& v : versions) {
        fs::path tree = work / ("tree-" + v.Label);
        if (!fs::exists(tree)) MakeTree(tree, v.Files);
        auto o = Options(repo, v.Label, tree, form.Mode);
        o.OldTree = previous;
        o.AbsoluteDirectories = form.Absolute;
        o.TestServer = v.TestServer;
        auto result = PublishVersion(o);
        ASSERT_TRUE(result.Published) << form.Name << " " << v.Label << ": "
                                      << (result.Errors.empty() ? "" : result.Errors[0]);
        previous = tree;
    }
}

// What the game directory holds after the launcher applied `versions` in `form`, by folded
// path: installed names with their contents. config.ini is compared on its own.
std::map<std::string, std::string> ExpectedGame(const Form& form, bool applyTestServer) {
    std::map<std::string, std::string> game;
    Tree previous;
    for (const auto& v : FiveGameVersions()) {
        if (v.TestServer && !applyTestServer) break;
        std::map<std::string, std::string> oldByKey;
        for (const auto& [path, data] : previous) oldByKey[FoldCase(path)] = data;
        for (const auto& [path, data] : v.Files) {
            auto old = oldByKey.find(FoldCase(path));
            bool renamed = old != oldByKey.end() && previous.count(path) == 0;
            if (old != oldByKey.end() && old->second == data && !renamed) continue;
            std::string name =
                path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
            auto substitute = form.Mode == PatchMode::Packed
                                  ? PatchEngine::SubstituteName(ToBackslashes(path), true)
                                  : PatchEngine::SubstituteName(name, false);
            std::string key = FoldCase(path);
            if (substitute && FoldCase(*substitute) != "config._ni") key = FoldCase(*substitute);
            game[key] = data;
        }
        if (form.Mode == PatchMode::Packed) {
            std::set<std::string> now;
            for (const auto& [path, data] : v.Files) now.insert(FoldCase(path));
            for (const auto& [key, data] : oldByKey) {
                if (!now.count(key)) game.erase(key);
            }
        }
        previous = v.Files;
    }
    game.erase("config.ini");
    return game;
}

std::map<std::string, std::string> ActualGame(const fs::path& game) {
    std::map<std::string, std::string> out;
    for (const auto& rel : testsupport::ListTree(game)) {
        std::string key = FoldCase(rel);
        if (key.starts_with("temp/") || key == "config.ini" || key == "torvane.conf" ||
            key == ".torvane.lock")
            continue;
        out[key] = testsupport::ReadFile(game / rel);
    }
    return out;
}

std::string ProfileValue(const fs::path& ini, const char* key) {
    char value[64] = {};
    GetPrivateProfileStringA("LOGIN", key, "", value, sizeof value, ini);
    return value;
}

// Downloads `url` with curl; nullopt when it fails.
std::optional<std::string> Fetch(const std::string& url, const fs::path& work) {
    fs::path out = work / "fetched";
    auto run = testsupport::Run({"curl", "-sSf", "--user", "anonymous:x", "-o", out.string(), url});
    if (run.ExitCode != 0) return std::nullopt;
    return testsupport::ReadFile(out);
}

}  // namespace

TEST(RoundTrip, EveryFormPublishesAndChecksClean) {
    testsupport::TempDir work;
    for (const auto& form : kForms) {
        SCOPED_TRACE(form.Name);
        fs::path repo = work / (std::string("repo-") + form.Name);
        PublishAll(work.Path(), repo, form);
        CheckOptions o;
        o.Repository = repo;
        auto report = CheckRepository(o);
        EXPECT_THAT(report.Problems, IsEmpty());
        EXPECT_EQ(report.VersionsChecked, 5u);
    }
}

TEST(RoundTrip, ServersHandOutThePublishedBytes) {
    testsupport::TempDir work;
    fs::path repo = work / "repo";
    PublishAll(work.Path(), repo, kForms[0]);
    // A half-written version (hidden name) must never be served.
    testsupport::WriteFile(repo / ".1.00.06.partial-1/list.inf", "half");

    testsupport::VsftpdServer vsftpd(repo, testsupport::Exposure::PublishedOnly);
    testsupport::NginxServer nginx(repo, std::nullopt, testsupport::Exposure::PublishedOnly);
    for (const testsupport::LoopbackServer* server :
         std::initializer_list<const testsupport::LoopbackServer*>{&vsftpd, &nginx}) {
        if (!server->Failure().empty()) GTEST_SKIP() << server->Failure();
    }
    const std::string ftp = "ftp://127.0.0.1:" + std::to_string(vsftpd.Port());
    const std::string http = "http://127.0.0.1:" + std::to_string(nginx.Port());
    for (const std::string& base : {ftp, http}) {
        SCOPED_TRACE(base);
        for (const auto& file : testsupport::ListTree(repo)) {
            if (file.starts_with(".")) continue;
            std::string url = base + "/" + file + (base == http ? "?time=42" : "");
            EXPECT_EQ(Fetch(url, work.Path()), testsupport::ReadFile(repo / file)) << file;
        }
        EXPECT_EQ(Fetch(base + "/.1.00.06.partial-1/list.inf", work.Path()), std::nullopt);
    }
}

namespace {

struct Served {
    const char* Name;
    const Form* PublishedAs;
    enum { Vsftpd, Pyftpdlib, Nginx } Server;
};

struct ServerUnderTest {
    std::unique_ptr<testsupport::LoopbackServer> Process;
    std::string Kind = "ftp";
    std::string Host = "127.0.0.1";  // for HTTP with the port: the URLs carry no other
    std::string User = "anonymous";
    std::string Password = "guest";
};

// Each served as a deployment serves it (see docs/deploying.md); pyftpdlib with one account.
ServerUnderTest StartServer(const Served& served, const fs::path& repo) {
    ServerUnderTest s;
    switch (served.Server) {
        case Served::Vsftpd:
            s.Process = std::make_unique<testsupport::VsftpdServer>(
                repo, testsupport::Exposure::PublishedOnly);
            break;
        case Served::Pyftpdlib:
            s.Process = std::make_unique<testsupport::PyFtpServer>(repo);
            s.User = "patch";
            s.Password = "secret";
            break;
        case Served::Nginx:
            s.Process = std::make_unique<testsupport::NginxServer>(
                repo, std::nullopt, testsupport::Exposure::PublishedOnly);
            s.Kind = "http";
            s.Host += ":" + std::to_string(s.Process->Port());
            break;
    }
    return s;
}

// The window's side of a session, kept for the failure message.
class RecordingHost : public QuietPatchHost {
public:
    void SetStatusText(int messageNumber) override {
        QuietPatchHost::SetStatusText(messageNumber);
        Log += "status " + std::to_string(messageNumber) + "\n";
    }
    void ShowMessageBox(const std::string& text, const std::string&, MessageBoxIcon) override {
        Log += "box " + text + "\n";
    }
    void ShowFormattedMessage(const std::string& text) override { Log += "box " + text + "\n"; }
    std::string Log;
};

// The parameter's form published into work/repo and served by the parameter's server.
class LauncherRoundTrip : public testing::TestWithParam<Served> {
protected:
    void SetUp() override {
        form_ = GetParam().PublishedAs;
        PublishAll(work_.Path(), work_ / "repo", *form_);
        server_ = StartServer(GetParam(), work_ / "repo");
        if (!server_.Process->Failure().empty()) GTEST_SKIP() << server_.Process->Failure();
    }

    testsupport::TempDir work_;
    const Form* form_ = nullptr;
    ServerUnderTest server_;
};

// One launcher run against `server`: the connect server names it, the terminal launcher
// patches an empty game directory until the client is current.
testsupport::RunResult PatchEmptyGame(const fs::path& work, const fs::path& game,
                                      const std::string& patchKind, const std::string& host,
                                      int port, const std::string& user,
                                      const std::string& password) {
    testsupport::ConnectdServer connectd(
        work,
        "server.0.name = World1\n"
        "server.0.address = 127.0.0.1\n"
        "server.0.port = 55901\n"
        "patch = " +
            patchKind + "\npatch_host = " + host + "\npatch_port = " + std::to_string(port) +
            "\npatch_user = " + user + "\npatch_password = " + password +
            "\npatch_version_file = version.wvd\n");
    EXPECT_TRUE(connectd.Ready()) << connectd.Failure();
    const int connectPort = connectd.Port();
    testsupport::WriteFile(work / "torvane.conf",
                           "connect_address = 127.0.0.1\n"
                           "connect_port = " +
                               std::to_string(connectPort) +
                               "\n"
                               "registry_dir = " +
                               (work / "registry").string() +
                               "\n"
                               "desktop_dir = " +
                               (work / "desktop").string() +
                               "\n"
                               "product_name = TorvaneRoundTrip" +
                               std::to_string(::getpid()) + "\n");
    fs::create_directories(game);
    return testsupport::Run({testsupport::ProgramPath("torvane-cli").string(), "--config",
                             (work / "torvane.conf").string(), "--game-dir", game.string()},
                            {}, 300000);
}

}  // namespace

TEST_P(LauncherRoundTrip, EmptyGameEndsAsTheNewestTree) {
    for (const char* program : {"torvane-cli", "torvane-connectd"}) {
        if (!fs::exists(testsupport::ProgramPath(program)))
            GTEST_SKIP() << program << " is not built";
    }
    const Form& form = *form_;
    const ServerUnderTest& server = server_;
    const std::string kind = server.Kind;
    const fs::path game = work_ / "game";
    auto run = PatchEmptyGame(work_.Path(), game, kind, server.Host, server.Process->Port(),
                              server.User, server.Password);
    ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;

    // FTP launchers in normal mode pass over the test-server version; HTTP applies it.
    const bool http = kind == "http";
    EXPECT_EQ(ActualGame(game), ExpectedGame(form, http));
    EXPECT_EQ(ProfileValue(game / "config.ini", "Version"), http ? "1.00.05" : "1.00.04");
    EXPECT_EQ(ProfileValue(game / "config.ini", "Language"), "Eng");
    EXPECT_FALSE(fs::exists(game / "patch.log"));
    EXPECT_FALSE(fs::exists(game / "list.inf"));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, LauncherRoundTrip,
    testing::Values(Served{"packed_vsftpd", &kForms[0], Served::Vsftpd},
                    Served{"packed_nginx", &kForms[0], Served::Nginx},
                    Served{"files_pyftpdlib", &kForms[1], Served::Pyftpdlib},
                    Served{"compressed_vsftpd", &kForms[2], Served::Vsftpd},
                    Served{"compressed_absolute_pyftpdlib", &kForms[3], Served::Pyftpdlib},
                    Served{"files_absolute_vsftpd", &kForms[4], Served::Vsftpd}),
    [](const testing::TestParamInfo<Served>& info) { return std::string(info.param.Name); });

// The same round trip one level down: the launcher's patch sessions driven directly against
// the servers (no connect server, no window), as the controller runs them.
TEST_P(LauncherRoundTrip, PatchSessionsBringAnEmptyGameToTheNewestTree) {
    const Form& form = *form_;
    const ServerUnderTest& server = server_;
    const fs::path game = work_ / "game";
    fs::create_directories(game / "Temp");
    RecordingHost host;
    PatchEngine engine(host, GamePath(game));
    engine.LoadLocalVersion();
    bool current = false;
    if (server.Kind == "ftp") {
        FtpPatchSession session(engine);
        current =
            session.RunFtpPatch(server.Host, static_cast<std::uint16_t>(server.Process->Port()),
                                server.User, server.Password, "version.wvd");
    } else {
        HttpPatchSession session(engine);
        engine.ServerHost = server.Host;
        engine.VersionFileName = "version.wvd";
        engine.SetPumpEvents(false);
        session.HttpPatchThread();
        current = engine.PatchDone.load() == 1;
    }
    ASSERT_TRUE(current) << host.Log;

    const bool http = server.Kind == "http";
    EXPECT_EQ(ActualGame(game), ExpectedGame(form, http)) << host.Log;
    EXPECT_EQ(ProfileValue(game / "config.ini", "Version"), http ? "1.00.05" : "1.00.04");
    EXPECT_EQ(ProfileValue(game / "config.ini", "Language"), "Eng");
    EXPECT_FALSE(fs::exists(game / "patch.log"));
}
