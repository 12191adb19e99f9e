// A Windows game client under a real Wine: the terminal launcher hands the chosen server to
// the Windows build of the game stub through a Wine prefix (the registry values and the
// command line, in the deployment's code page and locale), with and without a Wine server
// already running, and refuses what cannot be handed over. All tests share one prefix, made
// once by the wine_prefix fixture (make_prefix.sh); they take turns on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/Clock.h"
#include "platform/WineRegistry.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"
#include "text/MessageTableWriter.h"

namespace {

using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

const std::string kConnection = "SOFTWARE\\Varnok\\Ka\\Connection";

// Made by the wine_prefix fixture: <dir>/prefix, and <dir>/cache with the CP949 locale.
fs::path WineTestDirectory() {
    const char* dir = std::getenv("TORVANE_WINE_DIR");
    return dir ? fs::path(dir) : fs::path();
}

std::map<std::string, std::string> WineEnvironment(const fs::path& prefix) {
    return {{"WINEPREFIX", prefix.string()}, {"WINEDEBUG", "-all"}};
}

class WineHandOffTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (WineTestDirectory().empty())
            GTEST_SKIP() << "run through ctest (the wine_prefix fixture)";
        prefix = WineTestDirectory() / "prefix";
        if (!fs::exists(prefix / "system.reg"))
            GTEST_SKIP() << "no Wine prefix (the wine_prefix fixture found no wine64 program)";
        for (const char* program :
             {"torvane-cli", "torvane-connectd", "torvane-game-stub-win64.exe"})
            ASSERT_TRUE(fs::exists(ProgramPath(program))) << program << " is not built";
        game = dir / "game";
        fs::create_directories(game);
        WriteFile(game / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
        fs::copy_file(ProgramPath("torvane-game-stub-win64.exe"), game / "game.exe");
        CMessageTableWriter texts;
        texts.Add(126, "Choose a server");
        texts.Add(133, "Game client not found");
        texts.Add(151, "Hand-off failed");
        WriteFile(game / "message.wtf", texts.Serialize());
        stubOutput = dir / "stub.out";
        // Every test starts with no Wine server and a clean hand-off key.
        WaitForServerEnd();
        WineRegistry registry(Options(prefix));
        registry.DeleteKey(RegistryRoot::LocalMachine, kConnection);
        registry.Commit();
    }

    static WineRegistryOptions Options(const fs::path& prefix,
                                       const std::string& codePage = "CP949") {
        WineRegistryOptions options;
        options.Prefix = prefix;
        options.CodePage = codePage;
        return options;
    }

    void WriteLauncherConfig(int connectPort, const std::string& codePage, const std::string& key,
                             const std::string& extra = "") {
        WriteFile(dir / "torvane.conf",
                  "connect_address = 127.0.0.1\nconnect_port = " + std::to_string(connectPort) +
                      "\ngame_client = game.exe\nlaunch_command = wine\nregistry = wine\n"
                      "wine_prefix = " +
                      prefix.string() + "\ncode_page = " + codePage + "\nscramble_key = " + key +
                      "\nproduct_name = TorvaneWine" + std::to_string(getpid()) +
                      "\ndesktop_dir = " + (dir / "desktop").string() + "\n" + extra);
        // The stub reads the key the same way, from the game directory.
        WriteFile(game / "torvane.conf", "scramble_key = " + key + "\n");
    }

    std::unique_ptr<testsupport::ConnectdServer> StartConnectServer(
        int port, const std::string& address3 = "10.0.0.3") {
        std::string config = "patch = none\n";
        for (int i = 0; i < 4; ++i) {
            const std::string n = std::to_string(i);
            config += "server." + n + ".name = World" + std::to_string(i + 1) + "\n";
            config += "server." + n +
                      ".address = " + (i == 2 ? address3 : "10.0.0." + std::to_string(i + 1)) +
                      "\n";
            config += "server." + n + ".port = " + std::to_string(55901 + i) + "\n";
        }
        auto server = std::make_unique<testsupport::ConnectdServer>(dir.Path(), config, port);
        EXPECT_TRUE(server->Ready()) << server->Failure();
        return server;
    }

    // torvane-cli --pick 3 --start; the stub's report (empty when it was not started).
    testsupport::RunResult RunCli(std::map<std::string, std::string> environment = {}) {
        ChildProcess::Options options;
        options.ExtraEnvironment = std::move(environment);
        options.ExtraEnvironment["TORVANE_STUB_OUTPUT"] = "Z:" + WindowsSlashes(stubOutput);
        options.ExtraEnvironment["WINEDEBUG"] = "-all";
        if (!options.ExtraEnvironment.count("XDG_CACHE_HOME"))
            options.ExtraEnvironment["XDG_CACHE_HOME"] = (WineTestDirectory() / "cache").string();
        return testsupport::Run(
            {ProgramPath("torvane-cli").string(), "--config", (dir / "torvane.conf").string(),
             "--game-dir", game.string(), "--pick", "3", "--start"},
            options, 300000);
    }

    static std::string WindowsSlashes(const fs::path& path) {
        std::string text = path.string();
        for (char& c : text)
            if (c == '/') c = '\\';
        return text;
    }

    // The game starts detached, after the launcher has ended: wait for its whole report.
    std::string WaitForStub() {
        for (int i = 0; i < 1200; ++i) {
            const std::string text = fs::exists(stubOutput) ? ReadFile(stubOutput) : "";
            if (text.find("stamp:") != std::string::npos) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return fs::exists(stubOutput) ? ReadFile(stubOutput) : "";
    }

    void WaitForServerEnd() {
        ChildProcess::Options options;
        options.ExtraEnvironment = WineEnvironment(prefix);
        testsupport::Run({"wineserver", "-w"}, options, 120000);
    }

    testsupport::RunResult RunWine(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"wine"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildProcess::Options options;
        options.ExtraEnvironment = WineEnvironment(prefix);
        options.WorkingDirectory = game;
        return testsupport::Run(argv, options, 300000);
    }

    testsupport::TempDir dir;
    fs::path prefix;
    fs::path game;
    fs::path stubOutput;
};

const std::string kReport3 =
    "address: 10.0.0.3\nport: 55903\nregistry address: 10.0.0.3\nregistry port: 55903\n"
    "stamp: ok\n";

TEST_F(WineHandOffTest, Cp949DeploymentHandsOverByteForByte) {
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port);
    WriteLauncherConfig(port, "CP949", "11 22 33 44");
    const auto result = RunCli();
    EXPECT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    EXPECT_EQ(WaitForStub(), kReport3) << result.Stderr;
    // A 32-bit client's place (the server the stub started writes its registry when it ends).
    WaitForServerEnd();
    EXPECT_NE(ReadFile(prefix / "system.reg")
                  .find("[Software\\\\Wow6432Node\\\\Varnok\\\\Ka\\\\Connection]"),
              std::string::npos);
}

// Every scrambled byte is 0x80 or above: they arrive unchanged only because the client runs in
// the code page's own locale (generated here into an empty cache with localedef).
TEST_F(WineHandOffTest, Cp1252DeploymentWithHighScrambledBytes) {
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port);
    WriteLauncherConfig(port, "CP1252", "80 90 A0 B0");
    const auto result = RunCli({{"XDG_CACHE_HOME", (dir / "cache").string()}});
    EXPECT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    EXPECT_EQ(WaitForStub(), kReport3) << result.Stderr;
    EXPECT_TRUE(fs::exists(dir / "cache" / "torvane" / "locale" / "en_US.CP1252" / "LC_CTYPE"));
}

// A Wine server of the prefix is running: the values go through Wine, and they are still in the
// prefix's files after the server has ended.
TEST_F(WineHandOffTest, HandOffThroughARunningWineServerSurvivesIt) {
    ChildProcess::Options options;
    options.ExtraEnvironment = WineEnvironment(prefix);
    const auto started = testsupport::Run({"wineserver", "-p"}, options, 60000);
    ASSERT_EQ(started.ExitCode, 0) << started.Stdout << started.Stderr;
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port);
    WriteLauncherConfig(port, "CP949", "11 22 33 44");
    const auto result = RunCli();
    EXPECT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    EXPECT_EQ(WaitForStub(), kReport3) << result.Stderr;
    // While the server runs, the files do not have the values yet.
    EXPECT_EQ(ReadFile(prefix / "system.reg").find("Varnok\\\\Ka\\\\Connection"),
              std::string::npos);
    // Ending our own test server (never the launcher's business): it saves the registry.
    testsupport::Run({"wineserver", "-k"}, options, 60000);
    testsupport::Run({"wineserver", "-w"}, options, 60000);
    const std::string system = ReadFile(prefix / "system.reg");
    EXPECT_NE(system.find("[Software\\\\Wow6432Node\\\\Varnok\\\\Ka\\\\Connection]"),
              std::string::npos);
    EXPECT_NE(system.find("\"ParameterB\"=dword:"), std::string::npos);
}

// An address whose scrambled bytes end in half a CP949 character cannot be stored: message
// 151, the hand-off key is gone and the game is not started.
TEST_F(WineHandOffTest, BytesTheCodePageCannotHoldStopTheHandOff) {
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port, "10.0.0.31");
    WriteLauncherConfig(port, "CP949", "80 90 A0 B0");
    const auto result = RunCli();
    EXPECT_NE(result.Stderr.find("Hand-off failed"), std::string::npos) << result.Stderr;
    EXPECT_NE(result.Stderr.find("CP949 cannot decode"), std::string::npos) << result.Stderr;
    WineRegistry registry(Options(prefix));
    EXPECT_EQ(registry.OpenKey(RegistryRoot::LocalMachine, kConnection),
              Registry::Status::NotFound);
    EXPECT_FALSE(fs::exists(stubOutput));
}

TEST_F(WineHandOffTest, UnusablePrefixesAndAMissingWineAreNamed) {
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port);

    // No prefix at all.
    const fs::path missing = dir / "no-prefix";
    WriteLauncherConfig(port, "CP949", "11 22 33 44", "wine_prefix = " + missing.string() + "\n");
    auto result = RunCli();
    EXPECT_NE(result.Stderr.find("Hand-off failed"), std::string::npos) << result.Stderr;
    EXPECT_NE(result.Stderr.find("Wine prefix " + missing.string() + " does not exist"),
              std::string::npos)
        << result.Stderr;
    EXPECT_FALSE(fs::exists(missing));

    // A damaged system.reg is reported and left exactly as it was.
    const fs::path damaged = dir / "damaged";
    fs::create_directories(damaged);
    const std::string broken = "WINE REGISTRY Version 2\n\n[Software\\\\X] 1\ngarbage\n";
    WriteFile(damaged / "system.reg", broken);
    WriteFile(damaged / "user.reg", "WINE REGISTRY Version 2\n");
    WriteLauncherConfig(port, "CP949", "11 22 33 44", "wine_prefix = " + damaged.string() + "\n");
    result = RunCli();
    EXPECT_NE(result.Stderr.find("system.reg is damaged"), std::string::npos) << result.Stderr;
    EXPECT_EQ(ReadFile(damaged / "system.reg"), broken);
    EXPECT_FALSE(fs::exists(stubOutput));

    // No wine program: the values are written (no server runs), the start fails by name. A
    // server left by an earlier test lingers for a while after its last program ended; with it
    // the values would have to go through Wine, which this run cannot find.
    WaitForServerEnd();
    WriteLauncherConfig(port, "CP949", "11 22 33 44");
    result = RunCli({{"PATH", (dir / "empty-path").string()}});
    EXPECT_NE(result.Stderr.find("Game client not found"), std::string::npos) << result.Stderr;
    EXPECT_FALSE(fs::exists(stubOutput));
}

// A prefix the launcher may not write: as root, the launcher runs as another user.
TEST_F(WineHandOffTest, APrefixThatIsNotWritableIsLeftAlone) {
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port);
    const fs::path readOnly = dir / "read-only";
    fs::create_directories(readOnly);
    WriteFile(readOnly / "system.reg", "WINE REGISTRY Version 2\n");
    WriteFile(readOnly / "user.reg", "WINE REGISTRY Version 2\n");
    WriteLauncherConfig(port, "CP949", "11 22 33 44", "wine_prefix = " + readOnly.string() + "\n");
    // A copy of the launcher inside the test's directory, which that user may read.
    fs::copy_file(ProgramPath("torvane-cli"), dir / "torvane-cli");
    std::vector<std::string> argv{(dir / "torvane-cli").string(),
                                  "--config",
                                  (dir / "torvane.conf").string(),
                                  "--game-dir",
                                  game.string(),
                                  "--pick",
                                  "3",
                                  "--start"};
    if (::geteuid() == 0) {
        // Everything the launcher reads must be readable by that user.
        fs::permissions(dir.Path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
            fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add);
        argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    } else {
        fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(readOnly / "system.reg", fs::perms::owner_read);
    }
    ChildProcess::Options options;
    options.ExtraEnvironment = {{"HOME", dir.Path().string()}, {"XDG_RUNTIME_DIR", ""}};
    const auto result = testsupport::Run(argv, options, 300000);
    fs::permissions(readOnly, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_NE(result.Stderr.find("Hand-off failed"), std::string::npos) << result.Stderr;
    EXPECT_NE(result.Stderr.find("is not writable"), std::string::npos) << result.Stderr;
    EXPECT_EQ(ReadFile(readOnly / "system.reg"), "WINE REGISTRY Version 2\n");
}

// The stamp's time base: timeGetTime in the client reads the launcher's tick clock, to the
// millisecond, and the client applies the 5000 ms rule to what the store wrote.
TEST_F(WineHandOffTest, StampIsOnTheClientsTimeBase) {
    ChildProcess::Options options;
    options.ExtraEnvironment = WineEnvironment(prefix);
    options.WorkingDirectory = game;
    const fs::path in = dir / "ticks.in";
    const fs::path out = dir / "ticks.out";
    ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
    options.StdoutFile = out;
    ChildProcess ticks({"sh", "-c", "exec wine game.exe --ticks < '" + in.string() + "'"}, options);
    {
        std::ofstream feed(in);
        for (int round = 0; round < 3; ++round) {
            const std::size_t before = ReadFile(out).size();
            const std::uint32_t sent = TickCount();
            feed << "x" << std::endl;
            std::string text;
            // The first round waits for Wine to start as well.
            for (int i = 0; i < 24000 && (text = ReadFile(out)).size() <= before + 1; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const std::uint32_t received = TickCount();
            ASSERT_GT(text.size(), before) << "the stub printed no tick";
            const std::uint32_t client =
                static_cast<std::uint32_t>(std::stoul(text.substr(before)));
            EXPECT_LE(static_cast<std::int32_t>(sent - client), 2) << "round " << round;
            EXPECT_LE(static_cast<std::int32_t>(client - received), 2) << "round " << round;
        }
    }
    EXPECT_EQ(ticks.Wait(120000), 0);

    // The 5000 ms rule as the client applies it.
    WineRegistry registry(Options(prefix));
    for (const auto& [age, verdict] : {std::pair{60000u, "stamp: stale\n"}, {0u, "stamp: ok\n"}}) {
        ASSERT_EQ(registry.SetString(RegistryRoot::LocalMachine, kConnection, "ParameterA", "Hello",
                                     Registry::TextEnd::Unterminated),
                  Registry::Status::Ok);
        ASSERT_EQ(
            registry.SetDword(RegistryRoot::LocalMachine, kConnection, "Key", TickCount() - age),
            Registry::Status::Ok);
        ASSERT_EQ(registry.Commit(), Registry::Status::Ok);
        const auto report = RunWine({"game.exe", "--scramble-key", "00000000"});
        EXPECT_NE(report.Stdout.find("registry address: Hello\n"), std::string::npos)
            << report.Stdout;
        EXPECT_NE(report.Stdout.find(verdict), std::string::npos) << report.Stdout;
    }
    // A 64-bit client does not see what was written for a 32-bit one.
    const auto report = RunWine({"game.exe", "--view", "64"});
    EXPECT_NE(report.Stdout.find("registry address: missing\n"), std::string::npos)
        << report.Stdout;
}

// The options dialog's values, set from the terminal, read by the Windows client in its code
// page.
TEST_F(WineHandOffTest, OptionsReachTheClientInItsCodePage) {
    WriteLauncherConfig(1, "CP949", "11 22 33 44");
    const auto set = testsupport::Run({ProgramPath("torvane-cli").string(), "--config",
                                       (dir / "torvane.conf").string(), "--options",
                                       "ID=\xED\x95\x9C\xEA\xB8\x80", "--options", "Resolution=4",
                                       "--options", "ColorDepth=1", "--options", "MusicOnOff=0"});
    ASSERT_EQ(set.ExitCode, 0) << set.Stdout << set.Stderr;
    std::vector<std::string> argv{"wine", "game.exe", "--options"};
    ChildProcess::Options options;
    options.ExtraEnvironment = WineEnvironment(prefix);
    options.ExtraEnvironment["LC_ALL"] = "ko_KR.CP949";
    options.ExtraEnvironment["LOCPATH"] =
        (WineTestDirectory() / "cache" / "torvane" / "locale").string();
    options.WorkingDirectory = game;
    const auto report = testsupport::Run(argv, options, 300000);
    EXPECT_EQ(report.Stdout,
              "ID: \xC7\xD1\xB1\xDB\nSoundOnOff: 1\nMusicOnOff: 0\nResolution: 4\nColorDepth: 1\n"
              "WindowMode: 0\n")
        << report.Stderr;
}

}  // namespace
