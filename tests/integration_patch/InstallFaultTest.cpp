// Installation faults met in the field, each through a whole session against a real server:
// leftovers of earlier runs, version-list names that name the game's own files, packed
// archives that go missing or arrive damaged.

#include <gtest/gtest.h>

#include "integration_patch/SessionFixture.h"
#include "patch/FtpPatchSession.h"
#include "patch/HttpPatchSession.h"
#include "support/PatchServers.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ListTree;
using testsupport::NginxServer;
using testsupport::PyFtpServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class InstallFaultTest : public SessionFixture {
protected:
    void StartFtp() {
        ftp_ = std::make_unique<PyFtpServer>(Server());
        ASSERT_TRUE(ftp_->Ready());
    }
    bool RunFtp(const std::string& versionFile = "version.wvd") {
        FtpPatchSession session(NewEngine());
        return session.RunFtpPatch("127.0.0.1", static_cast<std::uint16_t>(ftp_->Port()), "patch",
                                   "secret", versionFile);
    }
    void StartHttp() {
        const std::string skip = NginxServer::SkipReason();
        if (!skip.empty()) GTEST_SKIP() << skip;
        testsupport::MakeWorldReadable(Server());
        http_ = std::make_unique<NginxServer>(Server());
        ASSERT_TRUE(http_->Ready());
    }
    // A whole HTTP session; true when it ended with the client current.
    bool RunHttp(const std::string& versionFile = "version.wvd") {
        PatchEngine& engine = NewEngine();
        HttpPatchSession session(engine);
        PatchServerAddress server;
        server.Host = http_->Host();
        server.VersionFile = versionFile;
        session.SetHttpPatchServer(server);
        if (!session.StartHttpPatch()) return false;
        session.Wait();
        return engine.PatchDone.load() == 1;
    }
    std::unique_ptr<PyFtpServer> ftp_;
    std::unique_ptr<NginxServer> http_;
};

// A log left by an abandoned 1.0.2 must neither be installed under a later patch that is
// passed over (one for the test client only) or has no files, nor block every later run.
TEST_F(InstallFaultTest, LogOfAnotherVersionIsDroppedWhenThePatchIsPassedOver) {
    for (const std::string list : {"#TEST_SERVER#\n\"t.bmd\"\n", "// nothing this time\n"}) {
        SCOPED_TRACE(list);
        fs::remove_all(Game());
        fs::remove_all(Server());
        WriteFile(Server() / "version.wvd", VersionList({"1.00.03"}));
        WriteTree(Server(), {{"1.00.03/list.inf", list}, {"1.00.03/t.bmd", Content("t")}});
        WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n");
        WriteFile(Game() / "a.bmd", Content("installed"));
        WriteFile(Game() / "patch.log", "V 1.0.2\nF a.bmd\nF gone.bmd\n");
        WriteFile(Game() / "Temp" / "a.bmd", Content("abandoned"));
        StartFtp();
        ASSERT_TRUE(RunFtp()) << LastStatus();
        EXPECT_TRUE(Host().Boxes.empty());
        EXPECT_EQ(ReadFile(Game() / "a.bmd"), Content("installed"));
        EXPECT_FALSE(fs::exists(Game() / "patch.log"));
        EXPECT_TRUE(ListTree(Game() / "Temp").empty());
        ASSERT_TRUE(RunFtp()) << LastStatus();  // and the next run is as clean
        ftp_.reset();
    }
}

// A copy of the file left in "Temp" in another letter case must not make every restore of the
// compressed file fail.
TEST_F(InstallFaultTest, LeftoverTempCopyInAnotherCaseDoesNotBlockARestore) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteFile(Server() / "1.00.01" / "list.inf", "#COMPRESSED#\n1 \"Data\"\n\"x.att.VKC\"\n");
    Bzip(Content("x"), Server() / "1.00.01" / "x.att.VKC");
    WriteFile(Game() / "Temp" / "Data" / "X.ATT", "left by an abandoned log");
    StartFtp();
    ASSERT_TRUE(RunFtp()) << LastStatus();
    EXPECT_EQ(ListTree(Game()), (std::vector<std::string>{"Data/x.att", "config.ini"}));
    EXPECT_EQ(ReadFile(Game() / "Data" / "x.att"), Content("x"));
}

// The connect server names the version list, which the session writes over that name and
// deletes afterwards: paths and the game's own files are refused before anything is touched.
TEST_F(InstallFaultTest, VersionListNamedLikeAGameFileIsRefused) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteFile(Game() / "game.exe", "the game client");
    WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
    WriteFile(Game() / "message.wtf", "texts");
    WriteFile(Game() / "patch.log", "V 1.0.1\n");
    WriteFile(Game() / "Data" / "keep.bmd", "data");
    const std::vector<std::string> before = ListTree(Game());
    for (const std::string name :
         {"game.exe", "GAME.EXE", "config.ini", "message.wtf", "patch.log", "Torvane.exe",
          "list.inf", "Data\\keep.bmd", "Data/keep.bmd", "../version.wvd", "Data", "Temp"}) {
        SCOPED_TRACE(name);
        if (!ftp_) StartFtp();
        EXPECT_FALSE(RunFtp(name));
        EXPECT_EQ(LastStatus(), 116);
        EXPECT_EQ(ListTree(Game()), before);
        EXPECT_EQ(ReadFile(Game() / "game.exe"), "the game client");
    }
    ftp_.reset();
    StartHttp();
    for (const std::string name : {"game.exe", "config.ini", "Data\\keep.bmd"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(RunHttp(name));
        EXPECT_EQ(LastStatus(), 116);
        EXPECT_EQ(ListTree(Game()), before);
    }
}

// Over HTTP a packed patch relies on the archive's config.ini for its version: one left
// beside the game by an earlier run must not pass for it.
TEST_F(InstallFaultTest, StrayConfigSubstituteIsNotTakenForTheArchives) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteFile(Server() / "1.00.01" / "list.inf", "#PACKINGVERSION#\n\"a.bmd\"\n");
    Zip({{"a.bmd", Content("a")}}, Server() / "1.00.01" / "up_list.zip");
    WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
    WriteFile(Game() / "CONFIG._NI", "[LOGIN]\r\nVersion=9.99.99\r\n");
    StartHttp();
    EXPECT_FALSE(RunHttp());
    EXPECT_EQ(ConfigVersion(), "1.00.00");
    ASSERT_EQ(Host().Boxes.size(), 1u);
    EXPECT_EQ(Host().Boxes[0].Text, "\"config.ini\" error");
    EXPECT_FALSE(fs::exists(Game() / "CONFIG._NI"));
}

// A packed patch's deletions wait for its archive: when the archive cannot be had, or arrives
// damaged, the files it would have replaced are still there and the next run converges.
TEST_F(InstallFaultTest, PackedDeletionsWaitForAWholeArchive) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    WriteFile(
        Server() / "1.00.01" / "list.inf",
        "#PACKINGVERSION#\n\"Data\\a.bmd\"\n\"config.ini\"\n@ \"Data\\a.bmd\"\n@ \"b.bmd\"\n");
    WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
    WriteFile(Game() / "Data" / "a.bmd", "old a");
    WriteFile(Game() / "b.bmd", "old b");
    const Tree archive = {{"Data/a.bmd", Content("a")},
                          {"config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n"}};
    Zip(archive, Server() / "spare.zip");
    std::string damaged = ReadFile(Server() / "spare.zip");
    damaged[40] ^= 0x55;  // the first byte of Data/a.bmd's deflated data
    WriteFile(Server() / "1.00.01" / "up_list.zip", damaged);
    StartFtp();
    StartHttp();

    EXPECT_FALSE(RunFtp());
    EXPECT_EQ(ReadFile(Game() / "b.bmd"), "old b");
    EXPECT_EQ(ReadFile(Game() / "Data" / "a.bmd"), "old a");
    EXPECT_FALSE(fs::exists(Game() / "Temp" / "up_list.zip"));
    if (http_) {
        EXPECT_FALSE(RunHttp());
        EXPECT_EQ(ReadFile(Game() / "b.bmd"), "old b");
        fs::remove(Server() / "1.00.01" / "up_list.zip");  // now missing: 404
        EXPECT_FALSE(RunHttp());
        EXPECT_EQ(ReadFile(Game() / "b.bmd"), "old b");
        EXPECT_EQ(ConfigVersion(), "1.00.00");
    }

    fs::copy_file(Server() / "spare.zip", Server() / "1.00.01" / "up_list.zip",
                  fs::copy_options::overwrite_existing);
    testsupport::MakeWorldReadable(Server());
    ASSERT_TRUE(RunFtp()) << LastStatus();
    EXPECT_EQ(ReadFile(Game() / "Data" / "a.bmd"), Content("a"));
    EXPECT_FALSE(fs::exists(Game() / "b.bmd"));
    EXPECT_EQ(ConfigVersion(), "1.00.01");
}

// A "list.inf" of a million one-letter names (2 MiB) is refused with the list's own message
// once it asks for more files than a directory can list, instead of being held whole.
TEST_F(InstallFaultTest, OversizedListIsRefusedWithTheListsMessage) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
    std::string list;
    for (int i = 0; i < 1000000; ++i) list += "a ";
    WriteFile(Server() / "1.00.01" / "list.inf", list);
    StartFtp();
    EXPECT_FALSE(RunFtp());
    EXPECT_EQ(LastStatus(), 119);
}

}  // namespace
