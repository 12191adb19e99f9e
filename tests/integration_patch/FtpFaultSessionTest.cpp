// The FTP patch session against servers that misbehave: a fault-injecting proxy (resets,
// stalls, early closes, endless data) between session and pyftpdlib, servers that list
// symbolic links with the link's size, name their root like a Windows drive, or never answer.
// Every faulted run ends with a clear failure and no damaged file, or with the new tree; the
// next run, without the fault, always ends with the new tree.

#include <gtest/gtest.h>

#include <set>

#include "integration_patch/SessionFixture.h"
#include "patch/FtpPatchSession.h"
#include "support/FaultProxy.h"
#include "support/PatchServers.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::FaultOptions;
using testsupport::FaultProxy;
using testsupport::FtpServerOptions;
using testsupport::PyFtpServer;
using testsupport::ReadFile;
using testsupport::WriteFile;
using Kind = FaultOptions::Kind;

namespace {

class FtpFaultSessionTest : public SessionFixture {
protected:
    void StartServer(const FtpServerOptions& options = {}) {
        server_ = std::make_unique<PyFtpServer>(Server(), options);
        ASSERT_TRUE(server_->Ready());
    }
    bool RunAgainst(FtpPatchSession& session, int port, const std::string& user = "patch") {
        return session.RunFtpPatch("127.0.0.1", static_cast<std::uint16_t>(port), user, "secret",
                                   "version.wvd");
    }
    // The game tree outside "Temp", with config.ini's contents left out.
    Tree Installed() const {
        Tree tree = ReadTree(Game(), "Temp");
        if (tree.count("config.ini")) tree["config.ini"] = "";
        return tree;
    }
    std::unique_ptr<PyFtpServer> server_;
};

TEST_F(FtpFaultSessionTest, SymbolicLinksListedWithTheLinkSizeArriveWhole) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(),
              {{"1.00.01/list.inf", "\"a.bmd\"\n"}, {"1.00.01/a.real", Content("a", 100000)}});
    fs::create_symlink("a.real", Server() / "1.00.01" / "a.bmd");
    const auto runOnce = [&](int port) {
        fs::remove_all(Game());
        fs::create_directories(Game() / "Temp");
        FtpPatchSession session(NewEngine());
        EXPECT_TRUE(RunAgainst(session, port)) << LastStatus();
        EXPECT_EQ(ReadFile(Game() / "a.bmd"), Content("a", 100000));
        EXPECT_EQ(ConfigVersion(), "1.00.01");
    };
    {
        FtpServerOptions options;
        options.NoMlsd = true;  // LIST shows the link's own size
        StartServer(options);
        runOnce(server_->Port());
    }
    const std::string skip = testsupport::VsftpdServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    testsupport::VsftpdServer vsftpd(Server());
    ASSERT_TRUE(vsftpd.Ready());
    const auto runAnonymous = [&] {
        fs::remove_all(Game());
        fs::create_directories(Game() / "Temp");
        FtpPatchSession session(NewEngine());
        EXPECT_TRUE(RunAgainst(session, vsftpd.Port(), "anonymous")) << LastStatus();
        EXPECT_EQ(ReadFile(Game() / "a.bmd"), Content("a", 100000));
    };
    runAnonymous();
}

TEST_F(FtpFaultSessionTest, DriveNamedLoginDirectoryStillGetsEveryVersionInOneRun) {
    const Tree expected = BuildStandardRepo(Server());
    FtpServerOptions options;
    options.DrivePwd = true;  // 257 "C:\ftproot"
    StartServer(options);
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(RunAgainst(session, server_->Port())) << LastStatus();
    EXPECT_TRUE(Installed() == expected) << testing::PrintToString(testsupport::ListTree(Game()));
    EXPECT_EQ(ConfigVersion(), "1.00.04");
}

TEST_F(FtpFaultSessionTest, EmptySubdirectoryNameSwitchesBackToTheGameDirectory) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "1 \"Data\"\n\"d.bmd\"\n1 \"\"\n\"r.bmd\"\n"},
                         {"1.00.01/d.bmd", Content("d")},
                         {"1.00.01/r.bmd", Content("r")},
                         {"1.00.02/list.inf",
                          "#NEWTOOLVERSION#\n1 \"Data\"\n\"d2.bmd\"\n1 \"\"\n\"r2.bmd\"\n"},
                         {"1.00.02/Data/d2.bmd", Content("d2")},
                         {"1.00.02/r2.bmd", Content("r2")}});
    StartServer();
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(RunAgainst(session, server_->Port())) << LastStatus();
    const Tree expected = {{"Data/d.bmd", Content("d")},
                           {"r.bmd", Content("r")},
                           {"Data/d2.bmd", Content("d2")},
                           {"r2.bmd", Content("r2")},
                           {"config.ini", ""}};
    EXPECT_TRUE(Installed() == expected) << testing::PrintToString(testsupport::ListTree(Game()));
}

TEST_F(FtpFaultSessionTest, SilentServerIsGivenUpAtTheStallLimitNotAHundredTimesIt) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(),
              {{"1.00.01/list.inf", "\"quiet.bmd\"\n"}, {"1.00.01/quiet.bmd", Content("quiet")}});
    FtpServerOptions options;
    options.StallFiles = {"quiet.bmd"};  // RETR accepted, then not a byte
    StartServer(options);
    FtpPatchSession session(NewEngine(), 1);
    EXPECT_FALSE(RunAgainst(session, server_->Port()));
    const auto& messages = Host().StatusMessages;
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], 125);
    EXPECT_EQ(messages.back(), 138);
    EXPECT_LE(server_->RetrievalCount("quiet.bmd"), 2);
    EXPECT_FALSE(fs::exists(Game() / "quiet.bmd"));
}

TEST_F(FtpFaultSessionTest, AccountWithLineBreaksNeverReachesTheServer) {
    BuildStandardRepo(Server());
    StartServer();
    FtpPatchSession session(NewEngine());
    EXPECT_FALSE(RunAgainst(session, server_->Port(), "patch\r\nDELE version.wvd"));
    ASSERT_EQ(Host().FormattedMessages.size(), 1u);
    EXPECT_EQ(Host().FormattedMessages[0].rfind("msg135\n[Error Code : ", 0), 0u)
        << Host().FormattedMessages[0];
    for (const std::string& command : server_->Commands())
        EXPECT_EQ(command.find("DELE"), std::string::npos) << command;
}

TEST_F(FtpFaultSessionTest, EndlessDataAfterAHugeAnnouncedSizeIsPumpedAndStoppable) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"a.bmd\"\n"}, {"1.00.01/a.bmd", Content("a")}});
    StartServer();
    FaultOptions fault;
    fault.Fault = Kind::Endless;
    fault.Ftp = true;
    fault.Match = "RETR a.bmd";
    fault.AnnounceSize = 3000000000ll;
    FaultProxy proxy(server_->Port(), fault);
    ASSERT_TRUE(proxy.Ready());
    FtpPatchSession session(NewEngine());
    // The close button, pressed while the endless transfer runs.
    Host().OnPump = [&](int pumps) {
        if (pumps == 500) {
            engine_->StopTransfer = 1;
            session.CloseFtpConnection();
        }
    };
    EXPECT_FALSE(RunAgainst(session, proxy.Port()));
    EXPECT_GE(Host().Pumps, 500);
    EXPECT_FALSE(fs::exists(Game() / "a.bmd"));
    EXPECT_TRUE(Strays().empty());
    EXPECT_EQ(testsupport::ListTree(Game() / "Temp"), std::vector<std::string>{});
}

// One fault at one point of a five-version run.
struct FaultCase {
    const char* Name;
    Kind Fault;
    const char* Match;
    long long After;
};

class FtpFaultSuite : public FtpFaultSessionTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FtpFaultSuite, FaultedRunFailsCleanlyAndTheNextRunConverges) {
    const Tree expected = BuildStandardRepo(Server());
    // Every content a file of the game may legitimately hold at some point of the run.
    std::set<std::string> legitimate = {Content("a1"), Content("old")};
    for (const auto& [name, contents] : expected) legitimate.insert(contents);
    StartServer();

    FaultOptions options;
    options.Fault = GetParam().Fault;
    options.Ftp = true;
    options.Match = GetParam().Match;
    options.After = GetParam().After;
    options.Times = 1;
    {
        FaultProxy proxy(server_->Port(), options);
        ASSERT_TRUE(proxy.Ready());
        FtpPatchSession session(NewEngine(), 1);
        const bool current = RunAgainst(session, proxy.Port());
        EXPECT_EQ(proxy.FaultCount(), 1);
        if (current) {
            EXPECT_TRUE(Installed() == expected);
        } else {
            EXPECT_TRUE(std::set<int>({116, 119, 120, 125, 138}).count(LastStatus()))
                << LastStatus();
            for (const auto& [name, contents] : Installed()) {
                // The session's own work files are not game files.
                if (name == "config.ini" || name == "patch.log" || name == "version.wvd") continue;
                EXPECT_TRUE(legitimate.count(contents)) << name << " is damaged";
            }
        }
    }
    FtpPatchSession session(NewEngine());
    ASSERT_TRUE(RunAgainst(session, server_->Port())) << LastStatus();
    EXPECT_TRUE(Installed() == expected) << testing::PrintToString(testsupport::ListTree(Game()));
    EXPECT_EQ(ConfigVersion(), "1.00.04");
    EXPECT_FALSE(fs::exists(Game() / "patch.log"));
    EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty());
    EXPECT_TRUE(Strays().empty());
}

const FaultCase kFaultCases[] = {
    {"ResetInVersionList", Kind::Reset, "RETR version.wvd", 10},
    {"StallInPatchList", Kind::Stall, "RETR list.inf", 5},
    {"EndlessPatchList", Kind::Endless, "RETR list.inf", 0},
    {"EndlessListing", Kind::Endless, "MLSD", 0},
    {"ResetInFile", Kind::Reset, "RETR p.bmd", 30000},
    {"EarlyCloseInFile", Kind::Close, "RETR p.bmd", 30000},
    {"StallInFile", Kind::Stall, "RETR p.bmd", 30000},
    {"EndlessFile", Kind::Endless, "RETR p.bmd", 0},
    {"EarlyCloseInCompressedFile", Kind::Close, "RETR c.bmd.VKC", 100},
    {"EndlessCompressedFile", Kind::Endless, "RETR c.bmd.VKC", 0},
    {"ResetInArchive", Kind::Reset, "RETR up_list.zip", 100},
    {"StallInArchive", Kind::Stall, "RETR up_list.zip", 100},
    {"EndlessArchive", Kind::Endless, "RETR up_list.zip", 0},
};

INSTANTIATE_TEST_SUITE_P(Faults, FtpFaultSuite, testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
