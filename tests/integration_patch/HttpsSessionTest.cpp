// The HTTP session over https against nginx with a certificate authority made at test time:
// the authority named by ca_file is trusted; the system's store does not know it, so the
// same server is refused there before anything is fetched.

#include <gtest/gtest.h>

#include "integration_patch/SessionFixture.h"
#include "patch/HttpPatchSession.h"
#include "support/PatchServers.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class HttpsSessionTest : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        const std::string skip = testsupport::NginxServer::SkipReason();
        if (!skip.empty()) GTEST_SKIP() << skip;
        std::string error;
        fs::create_directories(top_ / "tls");
        tls_ = testsupport::MakeTestCertificates(top_ / "tls", error);
        ASSERT_TRUE(tls_) << error;
        WriteFile(Server() / "version.wvd", VersionList({"1.00.01"}));
        WriteFile(Server() / "1.00.01/list.inf", "#PACKINGVERSION#\n\"a.bmd\"\n");
        Zip({{"a.bmd", Content("a")}, {"config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n"}},
            Server() / "1.00.01/up_list.zip");
        testsupport::MakeWorldReadable(Server());
        server_ = std::make_unique<testsupport::NginxServer>(Server(), tls_);
        ASSERT_TRUE(server_->Ready());
    }
    bool Run(const fs::path& caFile) {
        PatchEngine& engine = NewEngine();
        HttpPatchSession session(engine);
        session.SetTransport("https", caFile);
        PatchServerAddress server;
        server.Host = server_->Host();
        server.VersionFile = "version.wvd";
        session.SetHttpPatchServer(server);
        session.StartHttpPatch();
        session.Wait();
        return engine.PatchDone.load() == 1;
    }
    std::optional<testsupport::TestCertificates> tls_;
    std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(HttpsSessionTest, TheNamedAuthorityIsTrusted) {
    ASSERT_TRUE(Run(tls_->Authority)) << LastStatus();
    EXPECT_EQ(ReadFile(Game() / "a.bmd"), Content("a"));
    EXPECT_EQ(ConfigVersion(), "1.00.01");
}

TEST_F(HttpsSessionTest, AnUnknownAuthorityIsRefusedBeforeAnythingIsFetched) {
    // The system's store does not hold the test authority.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Run({}));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(LastStatus(), 116);
    EXPECT_FALSE(fs::exists(Game() / "a.bmd"));
    EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
    // Another authority's file does not help either.
    std::string error;
    fs::create_directories(top_ / "other");
    auto other = testsupport::MakeTestCertificates(top_ / "other", error);
    ASSERT_TRUE(other) << error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Run(other->Authority));
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(Game() / "a.bmd"));
}

}  // namespace
