// The FTP and HTTP clients against real servers (pyftpdlib, nginx) with a fault-injecting
// proxy in between: resets, stalls, early closes and endless data. Every fault must end in a
// clean failure (nothing left under the target's name, memory and disk bounded) or, where the
// data is whole, in success; never in a cut or padded file counted as downloaded.

#include <gtest/gtest.h>

#include <string>

#include "platform/FtpClient.h"
#include "platform/HttpClient.h"
#include "support/FaultProxy.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::FaultOptions;
using testsupport::FaultProxy;
using testsupport::FtpServerOptions;
using testsupport::PyFtpServer;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Kind = FaultOptions::Kind;

namespace {

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
    return data;
}

constexpr std::size_t kFileSize = 600000;

FaultOptions Fault(Kind kind, const std::string& match = "", long long after = 0,
                   double seconds = 0) {
    FaultOptions options;
    options.Fault = kind;
    options.Match = match;
    options.After = after;
    options.Seconds = seconds;
    return options;
}

class FtpFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(root_ / "big.bin", Pattern(kFileSize));
        WriteFile(root_ / "list.inf", "\"big.bin\"\n");
        server_ = std::make_unique<PyFtpServer>(root_.Path());
        ASSERT_TRUE(server_->Ready());
    }
    // A client logged in through a proxy with `options` (FTP-aware).
    std::unique_ptr<FtpClient> Through(FaultOptions options, int stallSeconds = 60) {
        options.Ftp = true;
        proxy_ = std::make_unique<FaultProxy>(server_->Port(), options);
        EXPECT_TRUE(proxy_->Ready());
        auto client = std::make_unique<FtpClient>(FtpClient::Options{stallSeconds});
        EXPECT_TRUE(client->Connect("127.0.0.1", static_cast<std::uint16_t>(proxy_->Port()),
                                    "patch", "secret"))
            << client->LastErrorText();
        return client;
    }
    // GetFile fails, leaves nothing behind, and says why.
    void ExpectCleanFailure(FtpClient& client, std::uint64_t maxBytes = 0) {
        EXPECT_FALSE(client.GetFile("big.bin", local_ / "big.bin", maxBytes));
        EXPECT_TRUE(testsupport::ListTree(local_.Path()).empty());
        EXPECT_NE(client.LastError(), 0);
        EXPECT_FALSE(client.LastErrorText().empty());
    }
    TempDir root_;
    TempDir local_;
    std::unique_ptr<PyFtpServer> server_;
    std::unique_ptr<FaultProxy> proxy_;
};

TEST_F(FtpFaultTest, ResetsAndEarlyClosesFailTheDownload) {
    for (Kind kind : {Kind::Reset, Kind::Close}) {
        auto client = Through(Fault(kind, "RETR big.bin", 200000));
        ExpectCleanFailure(*client);
        EXPECT_EQ(proxy_->FaultCount(), 1);
        auto reader = client->OpenFile("big.bin");
        if (reader) {
            char buffer[2048];
            std::size_t got = 0, total = 0;
            FtpFileReader::Status status;
            while ((status = reader->Read(buffer, sizeof buffer, &got)) ==
                       FtpFileReader::Status::Data ||
                   status == FtpFileReader::Status::Pending)
                total += got;
            // Cut short, either way: never the whole file counted as ended cleanly.
            EXPECT_TRUE(status == FtpFileReader::Status::Failed || total < kFileSize);
        }
    }
}

TEST_F(FtpFaultTest, SilenceLongerThanTheStallLimitFailsEvenAfterABurst) {
    // 200 kB at full speed, then three seconds of silence against a one-second limit: an
    // average-rate rule still sees a fast transfer here; the silence must fail it.
    auto client = Through(Fault(Kind::Stall, "RETR big.bin", 200000, 3.0), 1);
    ExpectCleanFailure(*client);
    EXPECT_NE(client->LastErrorText().find("sent nothing for 1 s"), std::string::npos)
        << client->LastErrorText();

    // The same through the streamed reader.
    auto reader = client->OpenFile("big.bin");
    ASSERT_TRUE(reader) << client->LastErrorText();
    char buffer[2048];
    std::size_t got = 0;
    std::uint64_t total = 0;
    FtpFileReader::Status status;
    while ((status = reader->Read(buffer, sizeof buffer, &got)) == FtpFileReader::Status::Data ||
           status == FtpFileReader::Status::Pending)
        total += got;
    EXPECT_EQ(status, FtpFileReader::Status::Failed);
    EXPECT_LT(total, kFileSize);
}

TEST_F(FtpFaultTest, SilentServerAfterTheOpenFailsAtTheStallLimit) {
    auto client = Through(Fault(Kind::Stall, "RETR big.bin"), 1);
    EXPECT_EQ(client->OpenFile("big.bin"), nullptr);
    EXPECT_NE(client->LastErrorText().find("sent nothing"), std::string::npos)
        << client->LastErrorText();
}

TEST_F(FtpFaultTest, DataBeyondTheAnnouncedSizeOrTheLimitFails) {
    // The whole file, then filler for ever.
    auto client = Through(Fault(Kind::Endless, "RETR big.bin"));
    ExpectCleanFailure(*client);
    // A list download is bounded by its caller even when the server announces more.
    FaultOptions lie = Fault(Kind::None);
    lie.AnnounceSize = 1ll << 40;
    auto announcing = Through(lie);
    ExpectCleanFailure(*announcing, 16u << 20);
    // Without the proxy's lie the same bound lets the file through.
    FtpClient plain;
    ASSERT_TRUE(
        plain.Connect("127.0.0.1", static_cast<std::uint16_t>(server_->Port()), "patch", "secret"));
    ASSERT_TRUE(plain.GetFile("big.bin", local_ / "big.bin", 16u << 20)) << plain.LastErrorText();
    EXPECT_EQ(ReadFile(local_ / "big.bin"), Pattern(kFileSize));
    EXPECT_FALSE(plain.GetFile("big.bin", local_ / "small", 1000));
    EXPECT_FALSE(fs::exists(local_ / "small"));
}

TEST_F(FtpFaultTest, EndlessListingFailsWithinItsBounds) {
    for (const char* command : {"MLSD", "LIST"}) {
        FtpServerOptions options;
        options.NoMlsd = std::string(command) == "LIST";
        server_ = std::make_unique<PyFtpServer>(root_.Path(), options);
        ASSERT_TRUE(server_->Ready());
        auto client = Through(Fault(Kind::Endless, command));
        EXPECT_FALSE(client->ListDirectory().has_value()) << command;
        EXPECT_NE(client->LastErrorText().find("listing is longer"), std::string::npos)
            << client->LastErrorText();
        // The connection is usable again afterwards (the proxy faults every listing).
        EXPECT_TRUE(client->GetFile("list.inf", local_ / "list.inf")) << client->LastErrorText();
    }
}

// HTTP through the proxy, with nginx behind it.
class HttpFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string skip = testsupport::NginxServer::SkipReason();
        if (!skip.empty()) GTEST_SKIP() << skip;
        WriteFile(root_ / "1.00.01" / "up_list.zip", Pattern(kFileSize));
        server_ = std::make_unique<testsupport::NginxServer>(root_.Path());
        ASSERT_TRUE(server_->Ready());
    }
    std::string Url(const FaultProxy& proxy) const {
        return "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/1.00.01/up_list.zip?time=1";
    }
    TempDir root_;
    TempDir local_;
    std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(HttpFaultTest, ResetsClosesStallsAndEndlessBodiesFailCleanly) {
    struct Case {
        FaultOptions Options;
        int StallSeconds;
        std::uint64_t MaxBytes;
    };
    const Case cases[] = {
        {Fault(Kind::Reset, "GET", 200000), 60, 0},
        {Fault(Kind::Close, "GET", 200000), 60, 0},
        // A burst, then silence three times the limit.
        {Fault(Kind::Stall, "GET", 200000, 3.0), 1, 0},
        // A chunked body without end: bounded by the caller's limit.
        {Fault(Kind::Chunked, "GET"), 60, 4u << 20},
    };
    for (const Case& c : cases) {
        FaultProxy proxy(server_->Port(), c.Options);
        ASSERT_TRUE(proxy.Ready());
        HttpClient client(HttpClient::Options{c.StallSeconds});
        EXPECT_EQ(client.Download(Url(proxy), local_ / "up_list.zip", nullptr, c.MaxBytes),
                  HttpClient::Result::Failed)
            << static_cast<int>(c.Options.Fault);
        EXPECT_TRUE(testsupport::ListTree(local_.Path()).empty());
        EXPECT_FALSE(client.LastErrorText().empty());
        EXPECT_EQ(proxy.FaultCount(), 1);
    }
    // The same proxy, faulting nothing, passes the file whole.
    FaultProxy proxy(server_->Port(), Fault(Kind::None));
    HttpClient client;
    ASSERT_EQ(client.Download(Url(proxy), local_ / "up_list.zip", nullptr, kFileSize),
              HttpClient::Result::Ok);
    EXPECT_EQ(ReadFile(local_ / "up_list.zip"), Pattern(kFileSize));
}

TEST(HttpClientUrls, ControlCharactersNeverReachTheServer) {
    TempDir local;
    HttpClient client;
    EXPECT_EQ(client.Download("http://127.0.0.1:9/a\r\nX-Injected: 1", local / "a"),
              HttpClient::Result::Failed);
    EXPECT_EQ(client.Download("http://127.0.0.1:9/a b", local / "a"), HttpClient::Result::Failed);
    EXPECT_NE(client.LastErrorText().find("control character"), std::string::npos);
    EXPECT_TRUE(testsupport::ListTree(local.Path()).empty());
}

}  // namespace
