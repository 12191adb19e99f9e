#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>

#include "integration_patch/SessionFixture.h"
#include "support/PatchServers.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ProgramPath;
using testsupport::RunResult;

namespace {

class CrashResumeTest : public SessionFixture {
protected:
    // `prefix`: a program that runs the driver (strace killing it at a chosen system call).
    RunResult Drive(long killAt, const std::vector<std::string>& prefix = {}) {
        std::vector<std::string> argv = prefix;
        argv.insert(argv.end(),
                    {ProgramPath("patch-session-driver").string(), Game().string(), "127.0.0.1",
                     std::to_string(server_->Port()), "patch", "secret", "version.wvd"});
        if (killAt > 0) argv.push_back(std::to_string(killAt));
        return testsupport::Run(argv);
    }
    // The driver under strace, killed at the `nth` flush of the whole file system (0: not
    // killed; the flushes are then written to `traceFile`).
    RunResult DriveFlushKilled(int nth, const fs::path& traceFile = "/dev/null") {
        std::vector<std::string> strace = {"strace",           "-qq", "-f",          "-o",
                                           traceFile.string(), "-e",  "trace=syncfs"};
        // The leak checker of a sanitizer build cannot run under a tracer: it would fail the
        // run at its end. The traced run keeps every other check.
        const char* asan = std::getenv("ASAN_OPTIONS");
        strace.push_back("-E");
        strace.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                         "detect_leaks=0");
        if (nth > 0) {
            strace.push_back("-e");
            strace.push_back("inject=syncfs:signal=KILL:when=" + std::to_string(nth));
        }
        return Drive(0, strace);
    }
    // How many flushes a clean run of the standard patch from scratch makes.
    int FlushCount() {
        const fs::path trace = Game().parent_path() / "flushes.trace";
        const RunResult clean = DriveFlushKilled(0, trace);
        EXPECT_EQ(clean.ExitCode, 0) << clean.Stdout << clean.Stderr;
        const std::string text = testsupport::ReadFile(trace);
        fs::remove(trace);
        int count = 0;
        for (std::size_t at = text.find("syncfs("); at != std::string::npos;
             at = text.find("syncfs(", at + 1))
            ++count;
        fs::remove_all(Game());
        fs::create_directories(Game() / "Temp");
        return count;
    }
    static bool StraceWorks() {
        return testsupport::Run({"strace", "-qq", "-f", "-o", "/dev/null", "true"}).ExitCode == 0;
    }
    // The tree of an uninterrupted run, with nothing left behind.
    void ExpectFinished(const Tree& expected, const std::string& trace) {
        Tree installed = ReadTree(Game(), "Temp");
        ASSERT_EQ(installed.count("config.ini"), 1u) << trace;
        installed["config.ini"] = "";
        EXPECT_TRUE(installed == expected)
            << trace << ": " << testing::PrintToString(testsupport::ListTree(Game()));
        EXPECT_EQ(ConfigVersion(), "1.00.04") << trace;
        EXPECT_FALSE(fs::exists(Game() / "patch.log")) << trace;
        EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty()) << trace;
        EXPECT_TRUE(Strays().empty()) << trace;
    }
    std::unique_ptr<testsupport::PyFtpServer> server_;
};

long PumpCount(const std::string& output) {
    const auto at = output.rfind("pumps ");
    return at == std::string::npos ? -1 : std::atol(output.c_str() + at + 6);
}

// A five-version patch killed at many points and run again ends with exactly the tree an
// uninterrupted run gives, and nothing outside the game directory is touched.
TEST_F(CrashResumeTest, KilledAnywhereAndRerunEndsWithTheSameTree) {
    const Tree expected = BuildStandardRepo(Server());
    server_ = std::make_unique<testsupport::PyFtpServer>(Server());
    ASSERT_TRUE(server_->Ready());

    // One clean run to learn how many pumps a whole session takes.
    const RunResult clean = Drive(0);
    ASSERT_EQ(clean.ExitCode, 0) << clean.Stdout;
    const long pumps = PumpCount(clean.Stdout);
    ASSERT_GT(pumps, 20);

    const int kPoints = 12;
    for (int point = 1; point <= kPoints; ++point) {
        fs::remove_all(Game());
        fs::create_directories(Game() / "Temp");
        // Kill points spread over the whole run, plus a second kill on the rerun.
        const long killAt = 1 + (pumps - 1) * point / (kPoints + 1);
        const RunResult killed = Drive(killAt);
        ASSERT_EQ(killed.ExitCode, 128 + SIGKILL) << "kill at pump " << killAt;
        const RunResult killedAgain = Drive(killAt / 2 + 1);
        (void)killedAgain;  // may finish first when the rest of the run is short
        RunResult rerun = Drive(0);
        if (rerun.ExitCode != 0) rerun = Drive(0);
        ASSERT_EQ(rerun.ExitCode, 0) << "kill at pump " << killAt << "\n" << rerun.Stdout;

        Tree installed = ReadTree(Game(), "Temp");
        ASSERT_EQ(installed.count("config.ini"), 1u) << killAt;
        installed["config.ini"] = "";
        EXPECT_TRUE(installed == expected) << "kill at pump " << killAt << ": "
                                           << testing::PrintToString(testsupport::ListTree(Game()));
        EXPECT_EQ(ConfigVersion(), "1.00.04") << killAt;
        EXPECT_FALSE(fs::exists(Game() / "patch.log")) << killAt;
        EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty()) << killAt;
        EXPECT_TRUE(Strays().empty()) << killAt;
    }
}

// A file already in the log whose "Temp" copy is gone (a run killed while clearing the copies)
// is fetched again. Killed half-way through that second fetch, or through restoring it, the
// run must leave nothing under the file's own name, or the next run would install the part.
TEST_F(CrashResumeTest, RefetchOfALoggedFileKilledHalfWayIsFetchedWholeNextTime) {
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        fs::remove_all(Server());
        const std::string data = Content("big", 3000000);
        testsupport::WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
        if (compressed) {
            testsupport::WriteFile(Server() / "1.00.01" / "list.inf",
                                   "#COMPRESSED#\n\"big.bmd.VKC\"\n");
            Bzip(data, Server() / "1.00.01" / "big.bmd.VKC");
        } else {
            testsupport::WriteFile(Server() / "1.00.01" / "list.inf", "\"big.bmd\"\n");
            testsupport::WriteFile(Server() / "1.00.01" / "big.bmd", data);
        }
        server_ = std::make_unique<testsupport::PyFtpServer>(Server());
        ASSERT_TRUE(server_->Ready());
        auto seedLog = [&] {
            fs::remove_all(Game());
            fs::create_directories(Game() / "Temp");
            testsupport::WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
            testsupport::WriteFile(Game() / "patch.log", "V 1.0.1\nF big.bmd\n");
        };

        seedLog();
        const RunResult clean = Drive(0);
        ASSERT_EQ(clean.ExitCode, 0) << clean.Stdout;
        const long pumps = PumpCount(clean.Stdout);
        ASSERT_GT(pumps, 400);

        seedLog();
        // Plain: half-way through the transfer. Compressed: the restoring comes last and pumps
        // a few hundred times.
        const long killAt = compressed ? pumps - 100 : pumps / 2;
        const RunResult killed = Drive(killAt);
        ASSERT_EQ(killed.ExitCode, 128 + SIGKILL) << killed.Stdout;
        EXPECT_FALSE(fs::exists(Game() / "Temp" / "big.bmd")) << "killed at pump " << killAt;

        const RunResult rerun = Drive(0);
        ASSERT_EQ(rerun.ExitCode, 0) << rerun.Stdout;
        EXPECT_TRUE(testsupport::ReadFile(Game() / "big.bmd") == data);
        EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty());
    }
}

// The standard repository served by pyftpdlib, and how many flushes a clean run of it makes,
// for the tests that kill the driver at one of those flushes.
class CrashResumeFlushTest : public CrashResumeTest {
protected:
    void SetUp() override {
        CrashResumeTest::SetUp();
        if (!StraceWorks())
            GTEST_SKIP() << "strace cannot trace here (not installed, or tracing is not allowed)";
        expected_ = BuildStandardRepo(Server());
        server_ = std::make_unique<testsupport::PyFtpServer>(Server());
        ASSERT_TRUE(server_->Ready());
        flushes_ = FlushCount();
        ASSERT_GT(flushes_, 0);
    }
    Tree expected_;
    int flushes_ = 0;
};

// A packed patch's files reach the disk in one flush before config.ini names the new version.
// Killed during that flush (by strace at the system call; it is the run's last), the run leaves
// the old version in config.ini, no temporary file beside any target, and the next run ends
// like a clean one.
TEST_F(CrashResumeFlushTest, KilledDuringThePackedPatchFlushRerunsToTheSameTree) {
    const RunResult killed = DriveFlushKilled(flushes_);
    ASSERT_EQ(killed.ExitCode, 128 + SIGKILL) << killed.Stdout << killed.Stderr;
    EXPECT_EQ(ConfigVersion(), "1.00.03");
    for (const std::string& name : testsupport::ListTree(Game()))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;

    const RunResult rerun = Drive(0);
    ASSERT_EQ(rerun.ExitCode, 0) << rerun.Stdout;
    ExpectFinished(expected_, "rerun");
}

// Per-file patches flush in batches: the downloads of a directory before the log names them,
// the installed copies once before the log and the copies go. Killed in each of those flushes
// in turn (and once more at the same flush of the rerun), config.ini never names a version
// whose files are not all in place, and a plain run then ends like a clean one.
TEST_F(CrashResumeFlushTest, KilledDuringEachBatchedFlushConverges) {
    // Three per-file versions of one to three directories each, then the packed one.
    ASSERT_GE(flushes_, 7);

    // What config.ini may name at any moment, with the files each version must have brought.
    const std::map<std::string, std::vector<std::string>> mustHave = {
        {"1.00.00", {}},
        {"1.00.01", {"Data/Player/p.bmd", "kamsg._ll"}},
        {"1.00.02", {"Data/Player/p.bmd", "kamsg._ll", "Data/c.bmd"}},
        {"1.00.03", {"Data/Player/p.bmd", "kamsg._ll", "Data/c.bmd", "r.txt", "Data/Map/m.att"}},
        {"1.00.04",
         {"Data/Player/p.bmd", "kamsg._ll", "Data/c.bmd", "r.txt", "Data/Map/m.att", "Data/z.bmd"}},
    };
    for (int nth = 1; nth < flushes_; ++nth) {
        const std::string trace = "killed at flush " + std::to_string(nth);
        const RunResult killed = DriveFlushKilled(nth);
        ASSERT_EQ(killed.ExitCode, 128 + SIGKILL) << trace << "\n" << killed.Stdout;
        const std::string version = ConfigVersion() == "none" ? "1.00.00" : ConfigVersion();
        ASSERT_EQ(mustHave.count(version), 1u) << trace << ": config.ini names " << version;
        for (const std::string& file : mustHave.at(version))
            EXPECT_TRUE(expected_.at(file) == testsupport::ReadFile(Game() / file))
                << trace << ": config.ini names " << version << " but " << file
                << " is not in place";
        // Killed again where the rerun flushes first: it must not lose what the first run kept.
        const RunResult killedAgain = DriveFlushKilled(1);
        (void)killedAgain;
        RunResult rerun = Drive(0);
        ASSERT_EQ(rerun.ExitCode, 0) << trace << "\n" << rerun.Stdout << rerun.Stderr;
        ExpectFinished(expected_, trace);
        fs::remove_all(Game());
        fs::create_directories(Game() / "Temp");
    }
}

}  // namespace

namespace {

// Five versions, the third carrying a new launcher (the run that installs it hands off to the
// game and ends), the second compressed and the fourth packed.
struct SelfUpdateRepo {
    std::vector<Tree> Versions;  // the game files each version brings
};

SelfUpdateRepo BuildSelfUpdateRepo(const fs::path& server) {
    SelfUpdateRepo repo;
    testsupport::WriteFile(server / "version.wvd",
                           VersionList({"1.00.01", "1.00.02", "1.00.03", "1.00.04", "1.00.05"}));
    for (int v = 1; v <= 5; ++v) {
        const std::string label = "1.00.0" + std::to_string(v);
        Tree files;
        for (const char* name : {"a", "b", "c"})
            files["v" + std::to_string(v) + name + ".bmd"] = Content(label + name, 40000);
        std::string list;
        for (const auto& [name, data] : files) {
            if (v == 2) {
                list += "\"" + name + ".VKC\"\n";
                Bzip(data, server / label / (name + ".VKC"));
            } else if (v != 4) {
                list += "\"" + name + "\"\n";
                testsupport::WriteFile(server / label / name, data);
            }
        }
        if (v == 2) list = "#COMPRESSED#\n" + list;
        if (v == 3) {
            list += "\"Torvane.exe\"\n";
            testsupport::WriteFile(server / label / "Torvane.exe", "new launcher");
        }
        if (v == 4) {
            Tree archive = files;
            archive["config.ini"] = "[LOGIN]\r\nVersion=1.00.04\r\n";
            Zip(archive, server / label / "up_list.zip");
            list = "#PACKINGVERSION#\n\"config.ini\"\n";
            for (const auto& [name, data] : files) list += "\"" + name + "\"\n";
        }
        testsupport::WriteFile(server / label / "list.inf", list);
        repo.Versions.push_back(files);
    }
    return repo;
}

// Killed at random points of the run that ends in the new launcher and of the run after it,
// the game always holds whole every version config.ini records, and plain reruns converge on
// the full tree with the new launcher beside the old.
TEST_F(CrashResumeTest, KilledAtRandomPointsAroundASelfUpdateConverges) {
    const SelfUpdateRepo repo = BuildSelfUpdateRepo(Server());
    server_ = std::make_unique<testsupport::PyFtpServer>(Server());
    ASSERT_TRUE(server_->Ready());
    const auto fresh = [&] {
        fs::remove_all(Game());
        fs::create_directories(Game() / "Temp");
        testsupport::WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
    };
    // Every version up to the recorded one is there whole.
    const auto expectRecordedVersionsWhole = [&](const std::string& context) {
        const std::string recorded = ConfigVersion();
        ASSERT_EQ(recorded.rfind("1.00.0", 0), 0u) << context << ": " << recorded;
        const int upTo = recorded.back() - '0';
        for (int v = 1; v <= upTo && v <= 5; ++v) {
            for (const auto& [name, data] : repo.Versions[static_cast<std::size_t>(v - 1)]) {
                EXPECT_TRUE(fs::exists(Game() / name) &&
                            testsupport::ReadFile(Game() / name) == data)
                    << context << ": " << name << " of recorded " << recorded;
            }
        }
        if (upTo >= 3) {
            EXPECT_EQ(testsupport::ReadFile(Game() / "Torvane._xe"), "new launcher") << context;
        }
    };

    fresh();
    const RunResult first = Drive(0);
    ASSERT_EQ(first.ExitCode, 0) << first.Stdout;
    ASSERT_NE(first.Stdout.find("start-game"), std::string::npos) << first.Stdout;
    const long firstPumps = PumpCount(first.Stdout);
    const RunResult second = Drive(0);
    ASSERT_EQ(second.ExitCode, 0) << second.Stdout;
    ASSERT_NE(second.Stdout.find("ready"), std::string::npos) << second.Stdout;
    const long secondPumps = PumpCount(second.Stdout);
    ASSERT_GT(firstPumps, 10);
    ASSERT_GT(secondPumps, 10);

    std::mt19937 random(20261208);  // fixed, so that a failure can be replayed
    for (int round = 0; round < 8; ++round) {
        const long killFirst = std::uniform_int_distribution<long>(1, firstPumps)(random);
        const long killSecond = std::uniform_int_distribution<long>(1, secondPumps)(random);
        const std::string context =
            "kills at " + std::to_string(killFirst) + " and " + std::to_string(killSecond);
        fresh();
        Drive(killFirst);
        expectRecordedVersionsWhole(context);
        Drive(killSecond);
        expectRecordedVersionsWhole(context);
        bool ready = false;
        for (int rerun = 0; rerun < 4 && !ready; ++rerun) {
            const RunResult result = Drive(0);
            ASSERT_EQ(result.ExitCode, 0) << context << "\n" << result.Stdout;
            ready = result.Stdout.find("ready") != std::string::npos;
        }
        ASSERT_TRUE(ready) << context;
        EXPECT_EQ(ConfigVersion(), "1.00.05") << context;
        Tree expected;
        for (const Tree& files : repo.Versions) expected.insert(files.begin(), files.end());
        expected["Torvane._xe"] = "new launcher";
        Tree installed = ReadTree(Game(), "Temp");
        installed.erase("config.ini");
        EXPECT_TRUE(installed == expected) << context;
        EXPECT_FALSE(fs::exists(Game() / "patch.log")) << context;
        EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty()) << context;
        EXPECT_TRUE(Strays().empty()) << context;
    }
}

}  // namespace
