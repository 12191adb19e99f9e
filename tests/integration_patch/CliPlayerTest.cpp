// The terminal launcher as a player and a script see it: live progress in bytes during a
// slow transfer, the cause of every failure on stderr and in the log, two game folders patched
// at once, one launcher per folder, a killed download of a big archive resumed.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "integration_patch/CliRun.h"
#include "integration_patch/PatchRepo.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class CliPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        RequireCliPrograms();
        fs::create_directories(Server());
    }
    fs::path Server() const { return top_ / "server"; }
    fs::path Log() const { return top_ / "torvane.log"; }

    // The connect server handing out `patchSettings`; the launcher's settings beside it.
    void StartConnectServer(const std::string& patchSettings) {
        connectd_ = patchtest::StartConnectServer(top_.Path(), patchSettings);
        ASSERT_TRUE(connectd_->Ready()) << connectd_->Failure();
        WriteLauncherSettings(top_.Path(), connectd_->Port());
    }
    std::vector<std::string> Launcher(const fs::path& game) const {
        return {ProgramPath("torvane-cli").string(),
                "--config",
                (top_ / "torvane.conf").string(),
                "--game-dir",
                game.string(),
                "--log-file",
                Log().string()};
    }
    testsupport::RunResult Run(const fs::path& game, const std::vector<std::string>& extra = {}) {
        auto argv = Launcher(game);
        argv.insert(argv.end(), extra.begin(), extra.end());
        return testsupport::Run(argv, {}, 300000);
    }

    // Starts the launcher on `game` and kills it (SIGKILL, no clean-up) once the archive's
    // part on disk holds at least half of `size`; returns the bytes it kept.
    std::uint64_t KillHalfWay(const fs::path& game, std::uint64_t size) {
        ChildProcess::Options options;
        options.StdoutFile = top_ / "killed.out";
        options.StderrFile = top_ / "killed.err";
        ChildProcess launcher(Launcher(game), options);
        const fs::path part = game / "Temp" / "up_list.zip.part";
        std::error_code ec;
        for (int i = 0; i < 12000 && launcher.Running(); ++i) {
            const auto bytes = fs::file_size(part, ec);
            if (!ec && bytes >= size / 2) break;
            usleep(5000);
        }
        launcher.Signal(SIGKILL);
        launcher.Wait();
        const auto kept = fs::file_size(part, ec);
        return ec ? 0 : kept;
    }
    // A packed version 1.00.01 whose archive holds `kBigSize` bytes of `name`'s contents.
    static constexpr std::size_t kBigSize = 4000000;
    std::uint64_t WritePackedVersion(const std::string& name) {
        WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
        WriteFile(Server() / "1.00.01" / "list.inf", "#PACKINGVERSION#\n");
        const fs::path archive = Server() / "1.00.01" / "up_list.zip";
        const bool replacing = fs::exists(archive);
        const auto before = replacing ? fs::last_write_time(archive) : fs::file_time_type{};
        Zip({{"config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n"},
             {"Data/big.bmd", Content(name, kBigSize)}},
            archive);
        // Dates count in whole seconds: a new file made within the same one would pass for
        // the old (its final checks would catch it, but that is not what is tested here).
        if (replacing) fs::last_write_time(archive, before + std::chrono::seconds(10));
        testsupport::MakeWorldReadable(Server());
        return fs::file_size(archive);
    }

    testsupport::TempDir top_;
    std::unique_ptr<testsupport::ConnectdServer> connectd_;
};

struct ProgressLine {
    std::uint64_t Done = 0;
    std::uint64_t Total = 0;
    std::uint64_t Rate = 0;
    std::string Version;
    std::string Name;
};

std::vector<ProgressLine> ProgressLines(const std::string& output, const std::string& name) {
    // progress: TOTAL% FILE% DONE/TOTAL RATE ETA VERSION NAME
    static const std::regex line(R"(progress: \d+% \d+% (\d+)/(\d+|\?) (\d+) (\d+|\?) (\S+) (.+))");
    std::vector<ProgressLine> lines;
    std::istringstream in(output);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line) || m[6] != name) continue;
        lines.push_back({std::stoull(m[1]), m[2] == "?" ? 0 : std::stoull(m[2]), std::stoull(m[3]),
                         m[5], m[6]});
    }
    return lines;
}

// A transfer of about four seconds: its lines come several times a second and say how far it
// is in bytes, how fast and which version and file it belongs to.
TEST_F(CliPlayerTest, ProgressLinesFollowASlowTransferInBytes) {
    constexpr std::size_t kSize = 400000;
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(),
              {{"1.00.01/list.inf", "\"big.bmd\"\n"}, {"1.00.01/big.bmd", Content("big", kSize)}});
    testsupport::FtpServerOptions slow;
    slow.SteadyBytesPerSecond = 100000;
    testsupport::PyFtpServer ftp(Server(), slow);
    ASSERT_TRUE(ftp.Ready());
    StartConnectServer(ftp.ConnectdPatchLines());
    const fs::path game = top_ / "game";
    const auto result = Run(game);
    ASSERT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    EXPECT_EQ(ReadFile(game / "big.bmd"), Content("big", kSize));

    const auto lines = ProgressLines(result.Stdout, "big.bmd");
    ASSERT_GE(lines.size(), 8u) << result.Stdout;
    bool sawRate = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].Total, kSize);
        EXPECT_EQ(lines[i].Version, "1.00.01");
        if (i > 0) {
            EXPECT_GE(lines[i].Done, lines[i - 1].Done);
        }
        sawRate = sawRate || lines[i].Rate > 0;
    }
    EXPECT_LT(lines.front().Done, lines.back().Done);
    EXPECT_EQ(lines.back().Done, kSize);
    EXPECT_TRUE(sawRate) << result.Stdout;

    // The log holds the run from start to end, each event time-stamped.
    const std::string log = ReadFile(Log());
    for (const char* event :
         {"start torvane-cli ", "settings file ", "game folder " /* given */,
          "connecting to the connect server 127.0.0.1:", "greeted", "patch server ftp://",
          "version 1.00.01 (1 of 1)", "downloaded ftp://127.0.0.1:", "big.bmd (400000 bytes)",
          "version 1.00.01 installed", "ready: client version 1.00.01", "end, exit status 0"}) {
        EXPECT_NE(log.find(event), std::string::npos) << event << "\n" << log;
    }
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] start )")))
        << log;
}

// What failed, where and why, on stderr and in the log.
TEST_F(CliPlayerTest, FailuresNameTheServerThePathAndTheCause) {
    // A file the list names but the server has not: the FTP reply is named.
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"gone.bmd\"\n"}});
    testsupport::PyFtpServer ftp(Server());
    ASSERT_TRUE(ftp.Ready());
    StartConnectServer(ftp.ConnectdPatchLines());
    auto result = Run(top_ / "game1");
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Stderr.find("RETR gone.bmd: not in the directory's listing"),
              std::string::npos)
        << result.Stderr;
    // With no game installed yet, the failure does not offer to start it.
    EXPECT_EQ(result.Stdout.find("You can still start the game"), std::string::npos)
        << result.Stdout;

    // A game folder that cannot be written is not a download failure: the local path and the
    // system's reason are named (Temp is a file here, which stops root as well).
    WriteTree(Server(),
              {{"1.00.01/list.inf", "\"here.bmd\"\n"}, {"1.00.01/here.bmd", Content("here")}});
    const fs::path blocked = top_ / "game2";
    fs::create_directories(blocked);
    WriteFile(blocked / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
    WriteFile(blocked / "game.sh", "#!/bin/sh\n");  // a game is installed: 138 may be shown
    WriteFile(blocked / "Temp", "not a folder");
    result = Run(blocked);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Stderr.find((blocked / "Temp").string()), std::string::npos) << result.Stderr;
    EXPECT_NE(result.Stderr.find("Not a directory"), std::string::npos) << result.Stderr;

    // Over HTTP, a missing version list: the URL and the HTTP status.
    const std::string skip = testsupport::NginxServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    fs::create_directories(top_ / "web");
    testsupport::MakeWorldReadable(top_ / "web");
    testsupport::NginxServer nginx(top_ / "web");
    ASSERT_TRUE(nginx.Ready());
    connectd_.reset();
    StartConnectServer("patch = http\npatch_host = " + nginx.Host() +
                       "\npatch_version_file = version.wvd\n");
    result = Run(top_ / "game3");
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Stderr.find("http://" + nginx.Host() + "/version.wvd"), std::string::npos)
        << result.Stderr;
    EXPECT_NE(result.Stderr.find("(HTTP 404)"), std::string::npos) << result.Stderr;

    const std::string log = ReadFile(Log());
    for (const char* cause : {"error: FTP 127.0.0.1:", "Not a directory", "(HTTP 404)"}) {
        EXPECT_NE(log.find(cause), std::string::npos) << cause << "\n" << log;
    }
}

// A client without its execute bit is "not executable", not a damaged program.
TEST_F(CliPlayerTest, AClientWithoutExecutePermissionIsNamedAsSuch) {
    StartConnectServer("patch = none\n");
    const fs::path game = top_ / "game";
    fs::create_directories(game);
    WriteFile(game / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
    WriteFile(game / "game.sh", "#!/bin/sh\nexit 0\n");
    fs::permissions(game / "game.sh", fs::perms::owner_read | fs::perms::owner_write);
    const auto result = Run(game, {"--pick", "1", "--start"});
    EXPECT_EQ(result.ExitCode, 1) << result.Stdout << result.Stderr;
    EXPECT_NE(result.Stderr.find("not executable"), std::string::npos) << result.Stderr;
    EXPECT_NE(result.Stderr.find((game / "game.sh").string()), std::string::npos) << result.Stderr;
    EXPECT_NE(ReadFile(Log()).find("hand-off: starting game.sh for server 10.0.0.1:55901"),
              std::string::npos);
}

// Two games, two launchers: both folders are patched at once. The same folder twice: the
// second launcher says which folder and which process.
TEST_F(CliPlayerTest, TwoGameFoldersAtOnceButOneLauncherPerFolder) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"slow.bmd\"\n"},
                         {"1.00.01/slow.bmd", Content("slow", 400000)}});
    testsupport::FtpServerOptions slow;
    slow.SteadyBytesPerSecond = 100000;
    testsupport::PyFtpServer ftp(Server(), slow);
    ASSERT_TRUE(ftp.Ready());
    StartConnectServer(ftp.ConnectdPatchLines());

    ChildProcess::Options first;
    first.StdoutFile = top_ / "a.out";
    first.StderrFile = top_ / "a.err";
    ChildProcess a(Launcher(top_ / "a"), first);
    // Wait until the first launcher holds its folder (its process id is written once the
    // lock is taken), then start the others.
    const std::string holder = std::to_string(a.Pid()) + "\n";
    for (int i = 0; i < 3000 && ReadFile(top_ / "a" / ".torvane.lock") != holder; ++i)
        usleep(10000);
    ChildProcess::Options second = first;
    second.StdoutFile = top_ / "b.out";
    second.StderrFile = top_ / "b.err";
    ChildProcess b(Launcher(top_ / "b"), second);
    const auto same = testsupport::Run(Launcher(top_ / "a"), {}, 60000);
    EXPECT_EQ(a.Wait(), 0) << ReadFile(top_ / "a.err");
    EXPECT_EQ(b.Wait(), 0) << ReadFile(top_ / "b.err");
    EXPECT_EQ(ReadFile(top_ / "a" / "slow.bmd"), Content("slow", 400000));
    EXPECT_EQ(ReadFile(top_ / "b" / "slow.bmd"), Content("slow", 400000));

    EXPECT_EQ(same.ExitCode, 1) << same.Stderr;
    EXPECT_NE(same.Stderr.find("(process " + std::to_string(a.Pid()) + ")"), std::string::npos)
        << same.Stderr;
    EXPECT_NE(same.Stderr.find((top_ / "a").string()), std::string::npos) << same.Stderr;
}

// A launcher killed half-way through a big archive continues on its next run from the bytes
// it kept, and nginx sends only the rest (206 to "Range: bytes=N-"). When the archive changed
// between the runs, the next run starts over (200) and installs the new one.
TEST_F(CliPlayerTest, AKilledArchiveDownloadIsResumedOverHttp) {
    const std::string skip = testsupport::NginxServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    const std::uint64_t size = WritePackedVersion("first");
    testsupport::NginxServer nginx(Server(), std::nullopt, testsupport::Exposure::Everything,
                                   1000000);
    ASSERT_TRUE(nginx.Ready());
    StartConnectServer("patch = http\npatch_host = " + nginx.Host() +
                       "\npatch_version_file = version.wvd\n");
    // The archive's requests in nginx's log: "GET /1.00.01/up_list.zip STATUS BYTES "RANGE"".
    auto lastArchiveRequest = [&] {
        std::istringstream in(ReadFile(nginx.AccessLog()));
        std::string last;
        for (std::string line; std::getline(in, line);) {
            if (line.find("/up_list.zip ") != std::string::npos) last = line;
        }
        return last;
    };
    static const std::regex request(
        R"(GET /1\.00\.01/up_list\.zip (\d+) (\d+) "(bytes=(\d+)-)?.*")");

    const fs::path game = top_ / "game";
    const std::uint64_t kept = KillHalfWay(game, size);
    ASSERT_GE(kept, size / 2) << ReadFile(top_ / "killed.err");
    ASSERT_LT(kept, size);
    const auto resumed = Run(game);
    ASSERT_EQ(resumed.ExitCode, 0) << resumed.Stdout << resumed.Stderr;
    EXPECT_EQ(ReadFile(game / "Data" / "big.bmd"), Content("first", kBigSize));
    EXPECT_TRUE(testsupport::ListTree(game / "Temp").empty())
        << testing::PrintToString(testsupport::ListTree(game / "Temp"));
    std::smatch m;
    const std::string line = lastArchiveRequest();
    ASSERT_TRUE(std::regex_match(line, m, request)) << line;
    const std::uint64_t from = std::stoull(m[4]);
    EXPECT_EQ(m[1], "206") << line;
    EXPECT_GE(from, kept);  // the launcher may have written more before the signal landed
    EXPECT_EQ(std::stoull(m[2]), size - from) << line;
    const std::string archiveUrl = "http://" + nginx.Host() + "/1.00.01/up_list.zip";
    EXPECT_NE(
        ReadFile(Log()).find("resuming " + archiveUrl + " at " + std::to_string(from) + " bytes"),
        std::string::npos)
        << ReadFile(Log());

    const fs::path other = top_ / "other";
    ASSERT_GE(KillHalfWay(other, size), size / 2);
    const std::uint64_t newSize = WritePackedVersion("second");
    const auto restarted = Run(other);
    ASSERT_EQ(restarted.ExitCode, 0) << restarted.Stdout << restarted.Stderr;
    EXPECT_EQ(ReadFile(other / "Data" / "big.bmd"), Content("second", kBigSize));
    const std::string again = lastArchiveRequest();
    ASSERT_TRUE(std::regex_match(again, m, request)) << again;
    EXPECT_EQ(m[1], "200") << again;
    EXPECT_TRUE(m[4].matched) << again;  // asked for the rest, got the whole new file
    EXPECT_EQ(std::stoull(m[2]), newSize) << again;
    EXPECT_NE(ReadFile(Log()).find("server file changed, starting over: " + archiveUrl),
              std::string::npos);
}

// The same over FTP: the next run asks SIZE and MDTM, finds the file as it was and sends
// "REST N" before RETR; a file changed between the runs is fetched whole without REST.
TEST_F(CliPlayerTest, AKilledArchiveDownloadIsResumedOverFtp) {
    const std::uint64_t size = WritePackedVersion("first");
    testsupport::FtpServerOptions steady;
    steady.SteadyBytesPerSecond = 1000000;
    testsupport::PyFtpServer ftp(Server(), steady);
    ASSERT_TRUE(ftp.Ready());
    StartConnectServer(ftp.ConnectdPatchLines());
    auto restarts = [&] {
        std::vector<std::string> rest;
        for (const std::string& command : ftp.Commands()) {
            // "REST 0" is libcurl's probe beside SIZE and MDTM, no restart.
            if (command.rfind("REST ", 0) == 0 && command != "REST 0") rest.push_back(command);
        }
        return rest;
    };

    const fs::path game = top_ / "game";
    const std::uint64_t kept = KillHalfWay(game, size);
    ASSERT_GE(kept, size / 2) << ReadFile(top_ / "killed.err");
    ASSERT_LT(kept, size);
    EXPECT_TRUE(restarts().empty());
    const auto resumed = Run(game);
    ASSERT_EQ(resumed.ExitCode, 0) << resumed.Stdout << resumed.Stderr;
    EXPECT_EQ(ReadFile(game / "Data" / "big.bmd"), Content("first", kBigSize));
    EXPECT_TRUE(testsupport::ListTree(game / "Temp").empty())
        << testing::PrintToString(testsupport::ListTree(game / "Temp"));
    // The size and date query answers nothing on the launcher's own output.
    EXPECT_EQ(resumed.Stdout.find("Content-Length"), std::string::npos) << resumed.Stdout;
    const auto rest = restarts();
    ASSERT_EQ(rest.size(), 1u);
    const std::uint64_t from = std::stoull(rest[0].substr(5));
    EXPECT_GE(from, kept);
    EXPECT_LT(from, size);
    EXPECT_NE(ReadFile(Log()).find("resuming ftp://127.0.0.1:" + std::to_string(ftp.Port()) +
                                   "/1.00.01/up_list.zip at " + std::to_string(from) + " bytes"),
              std::string::npos)
        << ReadFile(Log());

    const fs::path other = top_ / "other";
    ASSERT_GE(KillHalfWay(other, size), size / 2);
    WritePackedVersion("second");
    const auto restarted = Run(other);
    ASSERT_EQ(restarted.ExitCode, 0) << restarted.Stdout << restarted.Stderr;
    EXPECT_EQ(ReadFile(other / "Data" / "big.bmd"), Content("second", kBigSize));
    EXPECT_EQ(restarts().size(), 1u);
    EXPECT_NE(ReadFile(Log()).find("server file changed, starting over: ftp://"),
              std::string::npos);
}

}  // namespace
