// Sessions of a launcher that trusts a signing key, against real servers and repositories
// published with `torvane-publish add --sign`: a whole signed repository installs, and every
// kind of tampering is refused with the step's message, nothing of it installed, and a later
// run against the repaired server ends with the right tree.

#include <gtest/gtest.h>

#include "Publisher.h"
#include "RepositoryMetadata.h"
#include "integration_patch/SessionFixture.h"
#include "patch/FtpPatchSession.h"
#include "patch/HttpPatchSession.h"
#include "patch/RepositoryVerifier.h"
#include "support/PatchServers.h"
#include "trust/RepositoryIndex.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr int kMsgDownloadFailed = 116;
constexpr int kMsgPatchFailed = 138;

const Tree kFirst = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                     {"a.txt", Content("a1")},
                     {"Data/x.bmd", Content("x1")}};
const Tree kSecond = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                      {"a.txt", Content("a1")},
                      {"Data/x.bmd", Content("x2")},
                      {"Data/y.bmd", Content("y2")}};
const Tree kThird = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                     {"a.txt", Content("a3")},
                     {"Data/x.bmd", Content("x2")},
                     {"Data/y.bmd", Content("y2")},
                     {"b.att", Content("b3")}};

class VerifiedSession : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        std::string error;
        ASSERT_TRUE(GenerateKeyFiles(top_ / "key.pub", top_ / "key.sec", error)) << error;
        key_ = *LoadSecretKey(top_ / "key.sec", error);
        WriteTree(top_ / "v1", kFirst);
        WriteTree(top_ / "v2", kSecond);
        WriteTree(top_ / "v3", kThird);
        WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n");
    }

    void Publish(const std::string& label, const char* from, const char* to, PatchMode mode) {
        PublishOptions o;
        o.Repository = Server();
        o.Label = label;
        if (from) o.OldTree = top_ / from;
        o.NewTree = top_ / to;
        o.Mode = mode;
        o.SigningKey = top_ / "key.sec";
        auto result = PublishVersion(o);
        ASSERT_TRUE(result.Published) << (result.Errors.empty() ? "" : result.Errors[0]);
    }

    // A verifier holding the trusted key, hooked into a fresh engine.
    PatchEngine& NewVerifyingEngine() {
        PatchEngine& engine = NewEngine();
        verifier_ =
            std::make_unique<RepositoryVerifier>(std::vector<MinisignPublicKey>{key_.PublicKey()},
                                                 Game() / RepositoryVerifier::kSerialFileName);
        engine.Verifier = verifier_.get();
        return engine;
    }

    // Signs `index` (as given, e.g. expired) with `key`.
    void ServeIndex(const RepositoryIndex& index, const MinisignSecretKey& key) {
        const std::string text = FormatRepositoryIndex(index);
        WriteFile(Server() / kRepositoryIndexName, text);
        WriteFile(Server() / kRepositoryIndexSignatureName,
                  FormatSignatureFile(SignMessage(key, text, "test", "test")));
    }
    RepositoryIndex ServedIndex() {
        std::string error;
        return *ParseRepositoryIndex(ReadFile(Server() / kRepositoryIndexName), error);
    }

    // The game tree without the launcher's own files.
    Tree Installed() {
        Tree tree = ReadTree(Game(), "Temp");
        tree.erase(RepositoryVerifier::kSerialFileName);
        tree.erase("patch.log");
        tree["config.ini"] = "";
        return tree;
    }
    static Tree WithoutConfig(Tree tree) {
        tree["config.ini"] = "";
        return tree;
    }

    // A whole HTTP session against `host`; true when the client ended current.
    bool RunHttp(const std::string& host) {
        PatchEngine& engine = NewVerifyingEngine();
        HttpPatchSession session(engine);
        PatchServerAddress server;
        server.Host = host;
        server.VersionFile = "version.wvd";
        session.SetHttpPatchServer(server);
        session.StartHttpPatch();
        session.Wait();
        return engine.PatchDone.load() == 1;
    }

    MinisignSecretKey key_;
    std::unique_ptr<RepositoryVerifier> verifier_;
};

class VerifiedFtpSession : public VerifiedSession {
protected:
    void SetUp() override {
        VerifiedSession::SetUp();
        Publish("1.00.01", nullptr, "v1", PatchMode::Files);
        Publish("1.00.02", "v1", "v2", PatchMode::Compressed);
        Publish("1.00.03", "v2", "v3", PatchMode::Packed);
        server_ = std::make_unique<testsupport::PyFtpServer>(Server());
        ASSERT_TRUE(server_->Ready());
    }
    bool Run() {
        PatchEngine& engine = NewVerifyingEngine();
        FtpPatchSession session(engine);
        return session.RunFtpPatch("127.0.0.1", static_cast<std::uint16_t>(server_->Port()),
                                   "patch", "secret", "version.wvd");
    }
    std::unique_ptr<testsupport::PyFtpServer> server_;
};

TEST_F(VerifiedFtpSession, SignedRepositoryOfEveryKindInstallsAndRecordsItsSerial) {
    ASSERT_TRUE(Run()) << LastStatus();
    EXPECT_TRUE(Installed() == WithoutConfig(kThird))
        << testing::PrintToString(testsupport::ListTree(Game()));
    EXPECT_EQ(ConfigVersion(), "1.00.03");
    EXPECT_EQ(ReadFile(Game() / RepositoryVerifier::kSerialFileName), "3\n");
    EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty());
}

TEST_F(VerifiedFtpSession, EveryTamperingIsRefusedBeforeItIsInstalledAndLaterRunsRecover) {
    struct Attack {
        const char* What;
        std::function<void()> Do;
        int Message;
    };
    std::string error;
    ASSERT_TRUE(GenerateKeyFiles(top_ / "other.pub", top_ / "other.sec", error));
    const MinisignSecretKey other = *LoadSecretKey(top_ / "other.sec", error);
    const Attack attacks[] = {
        {"a per-file copy changed on the server",
         [&] { WriteFile(Server() / "1.00.01/a.txt", Content("a!")); }, kMsgPatchFailed},
        {"a compressed copy swapped with another file's",
         [&] {
             fs::copy_file(Server() / "1.00.02/x.bmd.VKC", Server() / "1.00.02/y.bmd.VKC",
                           fs::copy_options::overwrite_existing);
         },
         kMsgPatchFailed},
        {"an archive changed on the server",
         [&] { WriteFile(Server() / "1.00.03/up_list.zip", "PK"); }, kMsgPatchFailed},
        {"a list file cut short",
         [&] {
             std::string list = ReadFile(Server() / "1.00.01/list.inf");
             WriteFile(Server() / "1.00.01/list.inf", list.substr(0, list.size() / 2));
         },
         kMsgDownloadFailed},
        {"a manifest changed under a valid index",
         [&] {
             std::string m = ReadFile(Server() / "1.00.02/manifest.txt");
             m.replace(m.find(ToHex(Sha256Of(Content("y2")))), 64, ToHex(Sha256Of("evil")));
             WriteFile(Server() / "1.00.02/manifest.txt", m);
         },
         kMsgDownloadFailed},
        {"the version list changed", [&] { WriteFile(Server() / "version.wvd", "\"1.00.01\"\n"); },
         kMsgDownloadFailed},
        {"an index signed by another key", [&] { ServeIndex(ServedIndex(), other); },
         kMsgDownloadFailed},
        {"an expired index",
         [&] {
             RepositoryIndex index = ServedIndex();
             index.Expires = std::time(nullptr) - 1;
             ServeIndex(index, key_);
         },
         kMsgDownloadFailed},
        {"an old index replayed",
         [&] { WriteFile(Game() / RepositoryVerifier::kSerialFileName, "4\n"); },
         kMsgDownloadFailed},
        {"an unsigned repository",
         [&] {
             fs::remove(Server() / kRepositoryIndexName);
             fs::remove(Server() / kRepositoryIndexSignatureName);
         },
         kMsgDownloadFailed},
    };
    const fs::path pristine = top_ / "pristine";
    fs::copy(Server(), pristine, fs::copy_options::recursive);
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.What);
        fs::remove_all(Game());
        fs::create_directories(Game() / "Temp");
        WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n");
        attack.Do();
        testing::internal::CaptureStderr();
        const bool ok = Run();
        const std::string stderrText = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(ok);
        EXPECT_EQ(LastStatus(), attack.Message);
        // Refused by the verifier, or by the transfer before a byte arrived when the server
        // announces another size than the signed one.
        EXPECT_TRUE(stderrText.find("refused") != std::string::npos ||
                    stderrText.find("the signed manifest says") != std::string::npos)
            << stderrText;
        // The refused file is nowhere in the game; what came before it in the same run
        // may have been installed only when it was itself verified.
        for (const auto& [path, contents] : ReadTree(Game(), "Temp")) {
            if (path == "config.ini" || path == "patch.log" || path == "version.wvd" ||
                path == RepositoryVerifier::kSerialFileName)
                continue;
            EXPECT_TRUE(kFirst.count(path) || kSecond.count(path) || kThird.count(path)) << path;
        }
        EXPECT_EQ(Installed().count("b.att"), 0u);

        // The server repaired (the replayed serial stays: a newer index is needed).
        fs::remove_all(Server());
        fs::copy(pristine, Server(), fs::copy_options::recursive);
        if (ReadFile(Game() / RepositoryVerifier::kSerialFileName) == "4\n") {
            std::string error;
            for (int i = 0; i < 2; ++i)
                ASSERT_TRUE(WriteSignedIndex(Server(), "version.wvd", key_, 30, error));
        }
        ASSERT_TRUE(Run()) << LastStatus();
        EXPECT_TRUE(Installed() == WithoutConfig(kThird))
            << testing::PrintToString(testsupport::ListTree(Game()));
        fs::remove_all(Server());
        fs::copy(pristine, Server(), fs::copy_options::recursive);
    }
}

class VerifiedHttpSession : public VerifiedSession {
protected:
    void SetUp() override {
        VerifiedSession::SetUp();
        const std::string skip = testsupport::NginxServer::SkipReason();
        if (!skip.empty()) GTEST_SKIP() << skip;
        Publish("1.00.01", nullptr, "v1", PatchMode::Packed);
        Publish("1.00.02", "v1", "v2", PatchMode::Packed);
        testsupport::MakeWorldReadable(Server());
        server_ = std::make_unique<testsupport::NginxServer>(Server());
        ASSERT_TRUE(server_->Ready());
    }
    bool Run() { return RunHttp(server_->Host()); }
    std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(VerifiedHttpSession, SignedPackedVersionsInstall) {
    ASSERT_TRUE(Run()) << LastStatus();
    EXPECT_TRUE(Installed() == WithoutConfig(kSecond))
        << testing::PrintToString(testsupport::ListTree(Game()));
    EXPECT_EQ(ConfigVersion(), "1.00.02");
}

TEST_F(VerifiedHttpSession, AnArchiveSwappedWithAnotherVersionsIsRefusedBeforeItsDeletions) {
    // 1.00.01 installed; 1.00.02's archive replaced by 1.00.01's.
    ASSERT_TRUE(Run());
    WriteFile(Game() / "config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n");
    WriteFile(Game() / "Data/x.bmd", Content("x1"));
    fs::remove(Game() / "Data/y.bmd");
    const std::string genuine = ReadFile(Server() / "1.00.02/up_list.zip");
    fs::copy_file(Server() / "1.00.01/up_list.zip", Server() / "1.00.02/up_list.zip",
                  fs::copy_options::overwrite_existing);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Run());
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LastStatus(), kMsgPatchFailed);
    EXPECT_NE(stderrText.find("archive 1.00.02/up_list.zip"), std::string::npos) << stderrText;
    EXPECT_EQ(ReadFile(Game() / "Data/x.bmd"), Content("x1"));
    EXPECT_FALSE(fs::exists(Game() / "Temp/up_list.zip"));
    EXPECT_EQ(ConfigVersion(), "1.00.01");

    WriteFile(Server() / "1.00.02/up_list.zip", genuine);
    ASSERT_TRUE(Run());
    EXPECT_TRUE(Installed() == WithoutConfig(kSecond));
}

TEST_F(VerifiedHttpSession, AnUnsignedServerIsRefusedBeforeAnythingIsFetched) {
    fs::remove(Server() / kRepositoryIndexSignatureName);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Run());
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LastStatus(), kMsgDownloadFailed);
    EXPECT_NE(stderrText.find("not signed"), std::string::npos) << stderrText;
    EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
    EXPECT_FALSE(fs::exists(Game() / "a.txt"));
}

// A server that lies at the HTTP level: a response cut short under a matching
// Content-Length, and an archive that never ends.
class LyingHttpSession : public VerifiedSession {
protected:
    void SetUp() override {
        VerifiedSession::SetUp();
        Publish("1.00.01", nullptr, "v1", PatchMode::Packed);
        Publish("1.00.02", "v1", "v2", PatchMode::Packed);
    }
};

TEST_F(LyingHttpSession, AListCutShortByItsContentLengthIsRefused) {
    // Unchecked, a list cut after its file names loses the delete entries that follow them,
    // and the session reports success.
    testsupport::LyingHttpServer server(Server(), {"1.00.01/list.inf"}, {});
    ASSERT_TRUE(server.Ready());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RunHttp(server.Host()));
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LastStatus(), kMsgDownloadFailed);
    EXPECT_NE(stderrText.find("list file 1.00.01/list.inf"), std::string::npos) << stderrText;
    EXPECT_FALSE(fs::exists(Game() / "a.txt"));
    EXPECT_FALSE(fs::exists(Game() / "list.inf"));
}

TEST_F(LyingHttpSession, AnEndlessArchiveIsCutAtItsSignedSize) {
    testsupport::LyingHttpServer server(Server(), {}, {"1.00.01/up_list.zip"});
    ASSERT_TRUE(server.Ready());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RunHttp(server.Host()));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(LastStatus(), kMsgPatchFailed);
    EXPECT_FALSE(fs::exists(Game() / "a.txt"));
    // Nothing of the endless body is kept.
    EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty());
}

}  // namespace
