#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "integration_patch/SessionFixture.h"
#include "patch/HttpPatchSession.h"
#include "support/PatchServers.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::NginxServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

PatchServerAddress ServerAt(const std::string& host, const std::string& versionFile) {
    PatchServerAddress server;
    server.Host = host;
    server.VersionFile = versionFile;
    server.User = "unused";
    server.Port = 21;
    return server;
}

class HttpSessionTest : public SessionFixture {
protected:
    void StartServer() {
        const std::string skip = NginxServer::SkipReason();
        if (!skip.empty()) GTEST_SKIP() << skip;
        testsupport::MakeWorldReadable(Server());
        server_ = std::make_unique<NginxServer>(Server());
        ASSERT_TRUE(server_->Ready());
    }
    // Runs a whole session and waits for its worker to end.
    void RunSession(HttpPatchSession& session, const std::string& versionFile = "version.wvd") {
        session.SetHttpPatchServer(ServerAt(server_->Host(), versionFile));
        ASSERT_TRUE(session.StartHttpPatch());
        session.Wait();
    }
    std::unique_ptr<NginxServer> server_;
};

void AddPackedPatch(const fs::path& server, const std::string& label, const std::string& list,
                    const Tree& archive) {
    WriteFile(server / label / "list.inf", "#PACKINGVERSION#\n" + list);
    Zip(archive, server / label / "up_list.zip");
}

TEST_F(HttpSessionTest, EveryPendingPackedPatchIsAppliedTestServerOnesIncluded) {
    fs::create_directories(Server());
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02", "1.00.03"}));
    AddPackedPatch(Server(), "1.00.01", "\"a.bmd\"\n\"config.ini\"\n",
                   {{"a.bmd", Content("a1")},
                    {"Data/kamsg.dll", Content("k")},
                    {"config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n"}});
    AddPackedPatch(Server(), "1.00.02", "@ \"a.bmd\"\n@ 1 \"Empty\"\n",
                   {{"b.bmd", Content("b")}, {"config.ini", "[LOGIN]\r\nVersion=1.00.02\r\n"}});
    AddPackedPatch(
        Server(), "1.00.03", "#TEST_SERVER#\n",
        {{"kamsg.dll", Content("k3")}, {"config.ini", "[LOGIN]\r\nVersion=1.00.03\r\n"}});
    fs::create_directories(Game() / "Empty");
    StartServer();
    PatchEngine& engine = NewEngine();
    HttpPatchSession session(engine);
    RunSession(session);

    EXPECT_EQ(LastStatus(), 123) << Host().StatusMessages.size();
    EXPECT_EQ(Host().ReadyCalls, 1);
    EXPECT_EQ(Host().StartButtonHidden, 1);
    EXPECT_EQ(ConfigVersion(), "1.00.03");
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 0, 3}));
    EXPECT_EQ(engine.ProgressCaption(), "msg13 3/3");
    EXPECT_EQ(Host().Range[0], 3);
    EXPECT_EQ(Host().Position[0], 3);
    EXPECT_EQ(Host().Position[1], 100);
    EXPECT_EQ(Host().ConnectServerClosed, 0);
    const Tree expected = {{"Data/kamsg.dll", Content("k")},
                           {"b.bmd", Content("b")},
                           {"kamsg._ll", Content("k3")},
                           {"config.ini", "[LOGIN]\r\nVersion=1.00.03\r\n"}};
    EXPECT_TRUE(ReadTree(Game(), "Temp") == expected)
        << testing::PrintToString(testsupport::ListTree(Game()));
    EXPECT_FALSE(fs::exists(Game() / "Empty"));
    EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
    EXPECT_FALSE(fs::exists(Game() / "list.inf"));
    EXPECT_TRUE(Strays().empty());
}

TEST_F(HttpSessionTest, NothingPendingFillsBothBarsAndFailuresKeepTheirMessage) {
    fs::create_directories(Server());
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02"}));
    WriteFile(Game() / "config.ini", "[LOGIN]\nVersion=1.00.02\n");
    StartServer();
    {
        HttpPatchSession session(NewEngine());
        RunSession(session);
        EXPECT_EQ(Host().ReadyCalls, 1);
        EXPECT_EQ(Host().Range, (std::array<int, 2>{1, 1}));
        EXPECT_EQ(Host().Position, (std::array<int, 2>{1, 1}));
        EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
    }
    // A version list that is not there; a list without its archive; a damaged archive.
    {
        HttpPatchSession session(NewEngine());
        RunSession(session, "nothing.wvd");
        EXPECT_EQ(LastStatus(), 116);
        EXPECT_EQ(Host().ReadyCalls, 0);
    }
    WriteFile(Server() / "version.wvd", VersionList({"1.00.03"}));
    WriteFile(Server() / "1.00.03" / "list.inf", "#PACKINGVERSION#\n");
    {
        HttpPatchSession session(NewEngine());
        RunSession(session);
        EXPECT_EQ(LastStatus(), 138);
        EXPECT_EQ(Host().ReadyCalls, 0);
        EXPECT_FALSE(fs::exists(Game() / "list.inf"));
    }
    WriteFile(Server() / "1.00.03" / "up_list.zip", "PK\x03\x04 this is no archive");
    testsupport::MakeWorldReadable(Server());
    {
        HttpPatchSession session(NewEngine());
        RunSession(session);
        EXPECT_EQ(Host().ReadyCalls, 0);
        EXPECT_NE(LastStatus(), 123);
        EXPECT_EQ(ConfigVersion(), "1.00.02");
    }
    EXPECT_TRUE(Strays().empty());
}

TEST_F(HttpSessionTest, ProgressCreepsWithoutATotalAndQueryValuesNeverRepeat) {
    PatchEngine& engine = NewEngine();
    HttpPatchSession session(engine);
    Host().Position[1] = 0;
    session.OnProgress(10, 0);
    EXPECT_EQ(Host().Position[1], 2);
    session.OnProgress(20, 0);
    EXPECT_EQ(Host().Position[1], 3);
    session.OnProgress(50, 200);
    EXPECT_EQ(Host().Position[1], 25);
    session.OnProgress(0xFFFFFFFFull * 3, 0xFFFFFFFFull * 4);
    EXPECT_EQ(Host().Position[1], 75);
    const std::int32_t first = session.NextQueryValue();
    const std::int32_t second = session.NextQueryValue();
    EXPECT_NE(first, second);
}

TEST_F(HttpSessionTest, StopInterruptsAStalledDownloadAndJoins) {
    // A server that accepts and never answers.
    const int port = testsupport::FreeLoopbackPort();
    testsupport::ChildProcess silent(
        {"/usr/bin/python3", "-c",
         "import socket,time\ns=socket.socket()\ns.setsockopt(socket.SOL_SOCKET,"
         "socket.SO_REUSEADDR,1)\ns.bind(('127.0.0.1'," +
             std::to_string(port) + "))\ns.listen(8)\nc=[]\nwhile True: c.append(s.accept())\n"},
        {});
    ASSERT_TRUE(testsupport::WaitForPort(port));
    HttpPatchSession session(NewEngine());
    session.SetHttpPatchServer(ServerAt("127.0.0.1:" + std::to_string(port), "version.wvd"));
    ASSERT_TRUE(session.StartHttpPatch());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(session.Running());
    session.Stop();
    EXPECT_FALSE(session.Running());
    // Stopped, not failed: no failure message, and nothing more reaches the window.
    EXPECT_EQ(Host().StatusMessages, std::vector<int>{109});
    EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
}

// The owner hears of the end once, from the worker, when Running() already says so: no
// thread of its own has to watch the session.
TEST_F(HttpSessionTest, TheEndIsToldOnceAfterTheWorkerStopsRunning) {
    const int port = testsupport::FreeLoopbackPort();  // nothing listens: the list fails
    HttpPatchSession session(NewEngine());
    session.SetHttpPatchServer(ServerAt("127.0.0.1:" + std::to_string(port), "version.wvd"));
    std::atomic<int> ends{0};
    std::atomic<bool> runningAtTheEnd{true};
    std::thread::id endedOn;
    ASSERT_TRUE(session.StartHttpPatch([&] {
        runningAtTheEnd = session.Running();
        endedOn = std::this_thread::get_id();
        ++ends;
    }));
    session.Wait();
    EXPECT_EQ(ends.load(), 1);
    EXPECT_FALSE(runningAtTheEnd.load());
    EXPECT_NE(endedOn, std::this_thread::get_id());
    session.Stop();
    EXPECT_EQ(ends.load(), 1);
}

}  // namespace
