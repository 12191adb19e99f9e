#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "integration_patch/SessionFixture.h"
#include "patch/FtpPatchSession.h"
#include "support/PatchServers.h"
#include "text/MessageNumbers.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::FtpServerOptions;
using testsupport::PyFtpServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class FtpSessionTest : public SessionFixture {
protected:
    void StartServer(const FtpServerOptions& options = {}) {
        server_ = std::make_unique<PyFtpServer>(Server(), options);
        ASSERT_TRUE(server_->Ready());
    }
    bool Run(FtpPatchSession& session) {
        return session.RunFtpPatch("127.0.0.1", static_cast<std::uint16_t>(server_->Port()),
                                   "patch", "secret", "version.wvd");
    }
    // The session's own end state: nothing of its work files left behind.
    void ExpectCleanEnd() {
        EXPECT_FALSE(fs::exists(Game() / "patch.log"));
        EXPECT_FALSE(fs::exists(Game() / "list.inf"));
        EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
        EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty());
        EXPECT_TRUE(Strays().empty());
    }
    void ExpectStandardTree(const Tree& expected) {
        Tree installed = ReadTree(Game(), "Temp");
        ASSERT_EQ(installed.count("config.ini"), 1u);
        installed["config.ini"] = "";
        EXPECT_TRUE(installed == expected) << testing::PrintToString(testsupport::ListTree(Game()));
        EXPECT_EQ(ConfigVersion(), "1.00.04");
    }
    std::unique_ptr<PyFtpServer> server_;
};

TEST_F(FtpSessionTest, FreshGameReachesNewestVersionOverOneConnection) {
    const Tree expected = BuildStandardRepo(Server());
    StartServer();
    PatchEngine& engine = NewEngine();
    FtpPatchSession session(engine);
    ASSERT_TRUE(Run(session)) << LastStatus();

    ExpectStandardTree(expected);
    ExpectCleanEnd();
    // The test-client patch was passed over, but the version moved past it.
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 0, 5}));
    EXPECT_EQ(Host().ReadyCalls, 1);
    EXPECT_EQ(Host().ConnectServerClosed, 1);
    EXPECT_EQ(LastStatus(), 123);
    EXPECT_EQ(engine.PatchDone.load(), 1);
    EXPECT_EQ(engine.StopTransfer.load(), 1);
    EXPECT_EQ(engine.ProgressCaption(), "msg135/5");
    EXPECT_EQ(Host().Position[0], 5);
    EXPECT_EQ(server_->ConnectionCount(), 1);
    EXPECT_TRUE(Host().Boxes.empty());
}

TEST_F(FtpSessionTest, ListOnlyServerAndVsftpdGiveTheSameTree) {
    const Tree expected = BuildStandardRepo(Server());
    {
        FtpServerOptions options;
        options.NoMlsd = true;
        StartServer(options);
        FtpPatchSession session(NewEngine());
        ASSERT_TRUE(Run(session)) << LastStatus();
        ExpectStandardTree(expected);
        ExpectCleanEnd();
    }
    const std::string skip = testsupport::VsftpdServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    fs::remove_all(Game());
    fs::create_directories(Game() / "Temp");
    testsupport::VsftpdServer vsftpd(Server());
    ASSERT_TRUE(vsftpd.Ready());
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(session.RunFtpPatch("127.0.0.1", static_cast<std::uint16_t>(vsftpd.Port()),
                                    "anonymous", "", "version.wvd"))
        << LastStatus();
    ExpectStandardTree(expected);
    ExpectCleanEnd();
}

TEST_F(FtpSessionTest, NothingNewerDownloadsNothingAndEntersReadyState) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02", "1.00.03"}));
    WriteFile(Game() / "config.ini", "[LOGIN]\nVersion=1.00.03\n");
    StartServer();
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(Run(session));
    EXPECT_EQ(LastStatus(), 123);
    EXPECT_EQ(Host().ReadyCalls, 1);
    EXPECT_EQ(Host().Range[0], 0);
    ExpectCleanEnd();

    WriteFile(Server() / "version.wvd", "");
    FtpPatchSession again(NewEngine());
    ASSERT_TRUE(Run(again));
    EXPECT_EQ(Host().ReadyCalls, 1);
}

TEST_F(FtpSessionTest, OnlyVersionsNewerThanInstalledAreApplied) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02", "1.00.03"}));
    WriteTree(Server(), {{"1.00.03/list.inf", "\"x.bmd\"\n"}, {"1.00.03/x.bmd", Content("x")}});
    WriteFile(Game() / "config.ini", "[LOGIN]\nVersion=1.00.02\n");
    StartServer();
    PatchEngine& engine = NewEngine();
    FtpPatchSession session(engine);
    ASSERT_TRUE(Run(session)) << LastStatus();
    EXPECT_EQ(ReadFile(Game() / "x.bmd"), Content("x"));
    EXPECT_EQ(ConfigVersion(), "1.00.03");
    EXPECT_EQ(engine.ProgressCaption(), "msg133/3");
    EXPECT_EQ(Host().Range[0], 1);
    EXPECT_EQ(Host().Position[0], 1);
}

TEST_F(FtpSessionTest, TestClientAppliesTestServerPatchAndRecordsTestVersion) {
    WriteFile(Server() / "version.wvd", VersionList({"2.00.01"}));
    WriteTree(Server(), {{"2.00.01/list.inf", "#TEST_SERVER#\n\"t.bmd\"\n"},
                         {"2.00.01/t.bmd", Content("t")}});
    WriteFile(Game() / "config.ini", "[LOGIN]\nVersion=1.00.00\nTestVersion=1.00.00\n");
    launch_.Mode = kLaunchTestClient;
    StartServer();
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(Run(session)) << LastStatus();
    EXPECT_EQ(ReadFile(Game() / "t.bmd"), Content("t"));
    EXPECT_EQ(ConfigVersion("TestVersion"), "2.00.01");
    EXPECT_EQ(ConfigVersion(), "1.00.00");
}

TEST_F(FtpSessionTest, MissingShortAndCorruptFilesFailWithoutLoggingThem) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"good.bmd\"\n\"gone.bmd\"\n"},
                         {"1.00.01/good.bmd", Content("good")}});
    StartServer();
    {
        FtpPatchSession session(NewEngine());
        EXPECT_FALSE(Run(session));
        EXPECT_EQ(LastStatus(), 138);
        EXPECT_EQ(ReadFile(Game() / "patch.log"), "V 1.0.1\nF good.bmd\n");
        EXPECT_EQ(ConfigVersion(), "none");
        EXPECT_EQ(Host().ReadyCalls, 0);
    }
    server_.reset();

    // The server lists 100000 bytes but sends 1000.
    fs::remove(Game() / "patch.log");
    WriteTree(Server(), {{"1.00.01/list.inf", "\"short.bmd\"\n"},
                         {"1.00.01/short.bmd", Content("short", 100000)}});
    FtpServerOptions options;
    options.Truncate = {{"short.bmd", 1000}};
    StartServer(options);
    {
        FtpPatchSession session(NewEngine());
        EXPECT_FALSE(Run(session));
        EXPECT_EQ(LastStatus(), 138);
        EXPECT_FALSE(fs::exists(Game() / "Temp" / "short.bmd"));
        EXPECT_EQ(ReadFile(Game() / "patch.log"), "V 1.0.1\n");
    }

    // A compressed file that is not bzip2 data.
    WriteTree(Server(), {{"1.00.01/list.inf", "#COMPRESSED#\n\"bad.bmd.VKC\"\n"},
                         {"1.00.01/bad.bmd.VKC", "BZh9 certainly not compressed data"}});
    {
        FtpPatchSession session(NewEngine());
        EXPECT_FALSE(Run(session));
        EXPECT_EQ(LastStatus(), 138);
        EXPECT_FALSE(fs::exists(Game() / "Temp" / "bad.bmd"));
        EXPECT_FALSE(fs::exists(Game() / "bad.bmd"));
        EXPECT_EQ(ReadFile(Game() / "patch.log"), "V 1.0.1\n");
    }
    EXPECT_TRUE(Strays().empty());
}

TEST_F(FtpSessionTest, HostileNamesInListsAreRefusedAndNothingLeavesTheGameDirectory) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"evil.txt", "evil"}, {"1.00.01/evil.txt", "evil"}});
    StartServer();
    for (const std::string list : {"\"..\\..\\evil.txt\"\n", "1 \"..\\..\"\n\"evil.txt\"\n",
                                   "\"/tmp/evil.txt\"\n", "1 \"C:\\Windows\"\n\"evil.txt\"\n"}) {
        WriteFile(Server() / "1.00.01" / "list.inf", list);
        FtpPatchSession session(NewEngine());
        EXPECT_FALSE(Run(session)) << list;
        EXPECT_EQ(LastStatus(), 119) << list;
        EXPECT_TRUE(Strays().empty()) << list;
        EXPECT_FALSE(fs::exists("/tmp/evil.txt"));
    }
    // A hostile version list name never reaches the disk either.
    FtpPatchSession session(NewEngine());
    EXPECT_FALSE(session.RunFtpPatch("127.0.0.1", static_cast<std::uint16_t>(server_->Port()),
                                     "patch", "secret", "../evil.txt"));
    EXPECT_EQ(LastStatus(), 116);
    EXPECT_TRUE(Strays().empty());
}

TEST_F(FtpSessionTest, OpenRetriesUpToTheHundredthAttemptThenResumes) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"a.bmd\"\n\"busy.bmd\"\n"},
                         {"1.00.01/a.bmd", Content("a")},
                         {"1.00.01/busy.bmd", Content("busy")}});
    FtpServerOptions options;
    options.RefuseRetr = {{"busy.bmd", 100 + 99}};
    StartServer(options);
    {
        // 100 refusals: the file cannot be opened.
        FtpPatchSession session(NewEngine());
        EXPECT_FALSE(Run(session));
        const auto& messages = Host().StatusMessages;
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages[messages.size() - 2], 125);
        EXPECT_EQ(messages.back(), 138);
        EXPECT_EQ(ReadFile(Game() / "patch.log"), "V 1.0.1\nF a.bmd\n");
    }
    // Rerun: a.bmd comes from the log; busy.bmd opens at the 100th attempt.
    fs::remove(Server() / "1.00.01" / "a.bmd");
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(Run(session)) << LastStatus();
    EXPECT_EQ(ReadFile(Game() / "a.bmd"), Content("a"));
    EXPECT_EQ(ReadFile(Game() / "busy.bmd"), Content("busy"));
    ExpectCleanEnd();
}

TEST_F(FtpSessionTest, LogOfAnotherVersionIsRestarted) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.03"}));
    WriteTree(Server(), {{"1.00.03/list.inf", "\"a.bmd\"\n"}, {"1.00.03/a.bmd", Content("new")}});
    WriteFile(Game() / "patch.log", "V 1.0.2\nF a.bmd\n");
    WriteFile(Game() / "Temp" / "a.bmd", Content("stale"));
    StartServer();
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(Run(session)) << LastStatus();
    EXPECT_EQ(ReadFile(Game() / "a.bmd"), Content("new"));
    ExpectCleanEnd();
}

TEST_F(FtpSessionTest, LoggedFileWhoseTempCopyIsGoneIsFetchedAgain) {
    // What a run killed while clearing the "Temp" copies leaves behind.
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"a.bmd\"\n\"b.bmd\"\n"},
                         {"1.00.01/a.bmd", Content("a")},
                         {"1.00.01/b.bmd", Content("b")}});
    WriteFile(Game() / "patch.log", "V 1.0.1\nF a.bmd\nF b.bmd\n");
    WriteFile(Game() / "Temp" / "b.bmd", Content("b"));
    StartServer();
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(Run(session)) << LastStatus();
    EXPECT_EQ(ReadFile(Game() / "a.bmd"), Content("a"));
    EXPECT_EQ(ReadFile(Game() / "b.bmd"), Content("b"));
    ExpectCleanEnd();
}

TEST_F(FtpSessionTest, NewLauncherFileHandsOffToTheGameAndStopsPatching) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"Torvane.exe\"\n\"message.wtf\"\n"},
                         {"1.00.01/Torvane.exe", Content("launcher")},
                         {"1.00.01/message.wtf", Content("texts")},
                         {"1.00.02/list.inf", "\"later.bmd\"\n"},
                         {"1.00.02/later.bmd", Content("later")}});
    StartServer();
    PatchEngine& engine = NewEngine();
    FtpPatchSession session(engine);
    ASSERT_TRUE(Run(session)) << LastStatus();
    EXPECT_EQ(Host().GameStarts, 1);
    EXPECT_EQ(Host().ReadyCalls, 0);
    EXPECT_EQ(ReadFile(Game() / "Torvane._xe"), Content("launcher"));
    EXPECT_EQ(ReadFile(Game() / "message._tf"), Content("texts"));
    EXPECT_FALSE(fs::exists(Game() / "Torvane.exe"));
    EXPECT_FALSE(fs::exists(Game() / "later.bmd"));
    EXPECT_EQ(ConfigVersion(), "1.00.01");
    EXPECT_FALSE(fs::exists(Game() / "patch.log"));
}

// Stopped by the close button, a big file's bytes so far stay beside their record, never
// under the file's own name, and the next session continues them; from a server that refuses
// to resume, it fetches the whole file, and the refusal is no failure.
class FtpResumeTest : public FtpSessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FtpResumeTest, CloseButtonDuringTransferStopsAndKeepsThePartForTheNextRun) {
    const bool serverRefusesRest = GetParam();
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"big.bmd\"\n"},
                         {"1.00.01/big.bmd", Content("big", 3000000)}});
    // The first session asks for no offset: the refusal only matters to the second.
    FtpServerOptions options;
    options.RefuseRest = serverRefusesRest;
    StartServer(options);
    PatchEngine& engine = NewEngine();
    FtpPatchSession session(engine);
    bool partialSeen = false;
    Host().OnPump = [&](int pumps) {
        if (pumps != 20) return;
        // The part written so far, under its temporary name.
        partialSeen = fs::exists(Game() / "Temp" / "big.bmd.part");
        // What the close button does while a transfer runs.
        if (engine.StopTransfer.load() == 0) {
            engine.StopTransfer = 1;
            session.CloseFtpConnection();
        }
    };
    EXPECT_FALSE(Run(session));
    EXPECT_TRUE(partialSeen);
    EXPECT_EQ(LastStatus(), 138);
    EXPECT_EQ(testsupport::ListTree(Game() / "Temp"),
              (std::vector<std::string>{"big.bmd.part", "big.bmd.part.resume"}));
    EXPECT_FALSE(fs::exists(Game() / "big.bmd"));
    EXPECT_EQ(Host().ReadyCalls, 0);
    // Closing again (as the window does on its way out) is harmless.
    session.CloseFtpConnection();

    const auto kept = fs::file_size(Game() / "Temp" / "big.bmd.part");
    Host().StatusMessages.clear();
    PatchEngine& again = NewEngine();
    FtpPatchSession next(again);
    EXPECT_TRUE(Run(next));
    EXPECT_EQ(testsupport::ReadFile(Game() / "big.bmd"), Content("big", 3000000));
    EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty());
    const auto commands = server_->Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REST " + std::to_string(kept)),
              commands.end());
    const auto& events = Host().Events;
    const auto logged = [&](const std::string& text) {
        return std::any_of(events.begin(), events.end(), [&](const std::string& event) {
            return event.find(text) != std::string::npos;
        });
    };
    EXPECT_EQ(logged("server refused to resume at " + std::to_string(kept) + " bytes"),
              serverRefusesRest);
    EXPECT_FALSE(logged("error:"));
    EXPECT_EQ(std::count(Host().StatusMessages.begin(), Host().StatusMessages.end(),
                         kMsgCannotOpenRemote),
              0);
}

INSTANTIATE_TEST_SUITE_P(Server, FtpResumeTest, ::testing::Bool(), [](const auto& info) {
    return info.param ? "RefusingRest" : "TakingRest";
});

// A server that accepts a RETR and then sends nothing: the window's events keep coming while
// the open waits, and the close button ends the wait at once instead of at the stall limit.
TEST_F(FtpSessionTest, CloseButtonWhileAFileOpensEndsTheWait) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"silent.bmd\"\n"},
                         {"1.00.01/silent.bmd", Content("silent")}});
    FtpServerOptions options;
    options.StallFiles = {"silent.bmd"};
    StartServer(options);
    PatchEngine& engine = NewEngine();
    FtpPatchSession session(engine);
    int pumpsWhileOpening = 0;
    Host().OnPump = [&](int) {
        if (server_->RetrievalCount("silent.bmd") == 0 || engine.StopTransfer.load() == 1) return;
        if (++pumpsWhileOpening == 5) {
            engine.StopTransfer = 1;
            session.CloseFtpConnection();
        }
    };
    EXPECT_FALSE(Run(session));
    EXPECT_EQ(pumpsWhileOpening, 5);
    EXPECT_EQ(LastStatus(), 138);
    for (int message : Host().StatusMessages) EXPECT_NE(message, 125);
    EXPECT_FALSE(fs::exists(Game() / "Temp" / "silent.bmd"));
    EXPECT_EQ(server_->RetrievalCount("silent.bmd"), 1);
}

TEST_F(FtpSessionTest, DirectoryWithMoreThan999FilesKeepsTheFirst999) {
    fs::create_directories(Server() / "many");
    for (int i = 0; i < 1004; ++i) WriteFile(Server() / "many" / ("f" + std::to_string(i)), "x");
    fs::create_directories(Server() / "many" / "subdir");
    WriteFile(Server() / "many" / "list.inf", "// nothing to fetch\n");
    StartServer();
    PatchEngine& engine = NewEngine();
    engine.ServerHost = "127.0.0.1";
    engine.ServerPort = static_cast<std::uint16_t>(server_->Port());
    engine.ServerUser = "patch";
    engine.ServerPassword = "secret";
    FtpPatchSession session(engine);
    ASSERT_TRUE(session.OpenFtpConnection());
    EXPECT_TRUE(Host().FormattedMessages.empty());
    // The first connection failure message names message 135 and the code.
    FtpPatchSession refused(engine);
    engine.ServerPassword = "wrong";
    EXPECT_FALSE(refused.OpenFtpConnection());
    ASSERT_EQ(Host().FormattedMessages.size(), 1u);
    EXPECT_EQ(Host().FormattedMessages[0].rfind("msg135\n[Error Code : ", 0), 0u);
    Host().FormattedMessages.clear();

    // 1004 files plus the list: 1005 files, six beyond the 999 slots, six messages.
    bool save = true;
    VersionEntry entry;
    std::snprintf(entry.Label, sizeof entry.Label, "many");
    ASSERT_TRUE(session.DownloadPatch(entry, &save)) << LastStatus();
    EXPECT_EQ(session.RemoteFileTable().size(), 999u);
    EXPECT_EQ(Host().FormattedMessages, std::vector<std::string>(6, "msg136"));
    for (const RemoteFileEntry& file : session.RemoteFileTable()) EXPECT_NE(file.Name, "subdir");
}

// A file of 5 GiB (sparse on the server, with marks on both sides of 4 GiB) travels whole:
// sizes are listed, counted and compared in 64 bits.
TEST_F(FtpSessionTest, FileOfFiveGiBInstallsWhole) {
    constexpr std::uint64_t kSize = std::uint64_t{5} << 30;
    struct statvfs disk {};
    // The launcher writes the file twice: its copy in "Temp" and the installed one.
    if (::statvfs(Game().c_str(), &disk) != 0 ||
        static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize < 2 * kSize + (1ull << 30))
        GTEST_SKIP() << "less than 11 GiB free under " << Game() << " for a 5 GiB transfer";
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteFile(Server() / "1.00.01" / "list.inf", "\"huge.bmd\"\n");
    const fs::path source = Server() / "1.00.01" / "huge.bmd";
    const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSize)), 0);
    for (const std::uint64_t at : {std::uint64_t{1} << 20, (std::uint64_t{1} << 32) - 2,
                                   (std::uint64_t{1} << 32) + 4096, kSize - 4}) {
        ASSERT_EQ(::pwrite(fd, "mark", 4, static_cast<off_t>(at)), 4);
    }
    ::close(fd);
    StartServer();
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(Run(session)) << LastStatus();

    const fs::path installed = Game() / "huge.bmd";
    ASSERT_EQ(fs::file_size(installed), kSize);
    const auto compared = testsupport::Run({"cmp", source.string(), installed.string()});
    EXPECT_EQ(compared.ExitCode, 0) << compared.Stdout << compared.Stderr;
    EXPECT_EQ(ConfigVersion(), "1.00.01");
    ExpectCleanEnd();
}

}  // namespace
