#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <string>

#include "platform/FtpClient.h"
#include "platform/Sha256.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::FtpServerOptions;
using testsupport::PyFtpServer;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
    return data;
}

// A small server tree: a root file, a directory with files, a nested directory.
void FillRoot(const fs::path& root) {
    WriteFile(root / "version.wvd", "\"1.00.01\"\n");
    fs::create_directories(root / "1.00.01" / "Data" / "Player");
    WriteFile(root / "1.00.01" / "list.inf", "\"a.bmd\"\n");
    WriteFile(root / "1.00.01" / "a.bmd", Pattern(300000));
    WriteFile(root / "1.00.01" / "empty.txt", "");
    WriteFile(root / "1.00.01" / "Data" / "Player" / "p.bmd", "player");
}

// Reads a remote file the way the session does: 2048-byte chunks until the end.
std::string ReadAll(FtpFileReader& reader, FtpFileReader::Status* last) {
    std::string data;
    char buffer[2048];
    for (;;) {
        std::size_t count = 0;
        const auto status = reader.Read(buffer, sizeof buffer, &count);
        if (status == FtpFileReader::Status::Data) {
            EXPECT_LE(count, sizeof buffer);
            data.append(buffer, count);
            continue;
        }
        if (status == FtpFileReader::Status::Pending) continue;
        *last = status;
        return data;
    }
}

class FtpClientTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        FillRoot(root_.Path());
        FtpServerOptions options;
        options.NoMlsd = GetParam();
        server_ = std::make_unique<PyFtpServer>(root_.Path(), options);
        ASSERT_TRUE(server_->Ready());
        ASSERT_TRUE(client_.Connect("127.0.0.1", static_cast<std::uint16_t>(server_->Port()),
                                    "patch", "secret"))
            << client_.LastErrorText();
    }
    TempDir root_;
    TempDir local_;
    std::unique_ptr<PyFtpServer> server_;
    FtpClient client_;
};

TEST_P(FtpClientTest, DirectoriesListingAndDownloadsOverOneControlConnection) {
    const int connectionsAtStart = server_->ConnectionCount();
    EXPECT_EQ(client_.ServerOffersMlsd(), !GetParam());
    EXPECT_EQ(client_.GetCurrentDirectory(), "/");

    ASSERT_TRUE(client_.GetFile("version.wvd", local_ / "version.wvd"));
    EXPECT_EQ(ReadFile(local_ / "version.wvd"), "\"1.00.01\"\n");

    ASSERT_TRUE(client_.SetCurrentDirectory("1.00.01"));
    const std::string patchDirectory = client_.GetCurrentDirectory();
    EXPECT_EQ(patchDirectory, "/1.00.01");
    const auto listing = client_.ListDirectory();
    ASSERT_TRUE(listing.has_value());
    bool sawData = false, sawBmd = false, sawEmpty = false;
    for (const auto& entry : *listing) {
        if (entry.Name == "Data") sawData = entry.IsDirectory;
        if (entry.Name == "a.bmd") sawBmd = !entry.IsDirectory && entry.Size == 300000;
        if (entry.Name == "empty.txt") sawEmpty = entry.Size == 0;
        EXPECT_NE(entry.Name, ".");
        EXPECT_NE(entry.Name, "..");
    }
    EXPECT_TRUE(sawData && sawBmd && sawEmpty);

    // Streamed read in chunks, then the same file whole.
    auto reader = client_.OpenFile("a.bmd");
    ASSERT_TRUE(reader);
    FtpFileReader::Status last{};
    EXPECT_EQ(ReadAll(*reader, &last), Pattern(300000));
    EXPECT_EQ(last, FtpFileReader::Status::End);
    reader.reset();
    auto emptyReader = client_.OpenFile("empty.txt");
    ASSERT_TRUE(emptyReader);
    EXPECT_EQ(ReadAll(*emptyReader, &last), "");
    EXPECT_EQ(last, FtpFileReader::Status::End);
    emptyReader.reset();

    // Absolute switches and coming back to a remembered directory.
    ASSERT_TRUE(client_.SetCurrentDirectory("/1.00.01/Data/Player/"));
    EXPECT_EQ(client_.GetCurrentDirectory(), "/1.00.01/Data/Player");
    ASSERT_TRUE(client_.GetFile("p.bmd", local_ / "p.bmd"));
    EXPECT_EQ(ReadFile(local_ / "p.bmd"), "player");
    ASSERT_TRUE(client_.SetCurrentDirectory("/"));
    ASSERT_TRUE(client_.GetFile("version.wvd", local_ / "v2"));
    ASSERT_TRUE(client_.SetCurrentDirectory(patchDirectory));
    ASSERT_TRUE(client_.GetFile("list.inf", local_ / "list.inf"));

    EXPECT_EQ(server_->ConnectionCount(), connectionsAtStart);
}

// What a resume needs: the file's size and date (SIZE, MDTM), and the file from a byte on
// (REST right before RETR), with the whole file's size announced.
TEST_P(FtpClientTest, SizeDateAndTheRestOfAFileFromAByte) {
    const fs::path file = root_ / "1.00.01" / "a.bmd";
    const utimbuf times{1700000000, 1700000000};
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    ASSERT_TRUE(client_.SetCurrentDirectory("1.00.01"));
    const auto stat = client_.Stat("a.bmd");
    ASSERT_TRUE(stat) << client_.LastErrorText();
    EXPECT_EQ(stat->Size, 300000u);
    EXPECT_EQ(stat->Modified, 1700000000);
    EXPECT_FALSE(client_.Stat("missing.bmd"));
    EXPECT_EQ(client_.UrlOf("a.bmd"),
              "ftp://127.0.0.1:" + std::to_string(server_->Port()) + "/1.00.01/a.bmd");

    auto reader = client_.OpenFile("a.bmd", {}, 123456);
    ASSERT_TRUE(reader) << client_.LastErrorText();
    EXPECT_EQ(reader->AnnouncedSize(), 300000);
    FtpFileReader::Status last{};
    EXPECT_TRUE(ReadAll(*reader, &last) == Pattern(300000).substr(123456));
    EXPECT_EQ(last, FtpFileReader::Status::End);
    reader.reset();
    const auto commands = server_->Commands();
    const auto rest = std::find(commands.begin(), commands.end(), "REST 123456");
    ASSERT_NE(rest, commands.end());
    ASSERT_NE(rest + 1, commands.end());
    EXPECT_EQ(*(rest + 1), "RETR a.bmd");

    // The connection serves a whole file afterwards, from its start.
    auto whole = client_.OpenFile("a.bmd");
    ASSERT_TRUE(whole);
    EXPECT_TRUE(ReadAll(*whole, &last) == Pattern(300000));
}

TEST_P(FtpClientTest, MissingThingsFailAndLeaveStateAlone) {
    ASSERT_TRUE(client_.SetCurrentDirectory("1.00.01"));
    EXPECT_FALSE(client_.SetCurrentDirectory("no-such-dir"));
    EXPECT_EQ(client_.GetCurrentDirectory(), "/1.00.01");
    EXPECT_FALSE(client_.SetCurrentDirectory("/no/such"));
    EXPECT_EQ(client_.GetCurrentDirectory(), "/1.00.01");

    WriteFile(local_ / "keep.bmd", "old");
    EXPECT_FALSE(client_.GetFile("missing.bmd", local_ / "keep.bmd"));
    EXPECT_EQ(ReadFile(local_ / "keep.bmd"), "old");
    EXPECT_EQ(testsupport::ListTree(local_.Path()), std::vector<std::string>{"keep.bmd"});
    EXPECT_EQ(client_.OpenFile("missing.bmd"), nullptr);
    // Names that would smuggle commands or paths are refused before anything is sent.
    EXPECT_EQ(client_.OpenFile("a.bmd\r\nDELE a.bmd"), nullptr);
    EXPECT_FALSE(client_.GetFile("../version.wvd", local_ / "x"));
    EXPECT_FALSE(client_.SetCurrentDirectory("a\r\nRMD x"));
    // The session goes on after the failures.
    auto reader = client_.OpenFile("a.bmd");
    ASSERT_TRUE(reader);
}

// A download held to the signed size and hash: a file that differs in either never takes its
// name (the copy already there stays), and the connection goes on.
TEST_P(FtpClientTest, DownloadsHeldToAnExpectedSizeAndHash) {
    ASSERT_TRUE(client_.SetCurrentDirectory("1.00.01"));
    const std::string a = Pattern(300000);
    struct Case {
        const char* What;
        DownloadExpectation Expected;
        bool Lands;
    };
    const Case cases[] = {
        {"size and hash match", DownloadExpectation::Exactly(a.size(), Sha256Of(a)), true},
        {"another file's hash", DownloadExpectation::Exactly(a.size(), Sha256Of("x")), false},
        {"a larger signed size", DownloadExpectation::Exactly(a.size() + 1, Sha256Of(a)), false},
        {"a smaller signed size", DownloadExpectation::Exactly(a.size() - 1, Sha256Of(a)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        WriteFile(local_ / "a.bmd", "old");
        EXPECT_EQ(client_.GetFile("a.bmd", local_ / "a.bmd", c.Expected), c.Lands)
            << client_.LastErrorText();
        EXPECT_EQ(ReadFile(local_ / "a.bmd"), c.Lands ? a : "old");
        EXPECT_EQ(testsupport::ListTree(local_.Path()), std::vector<std::string>{"a.bmd"});
    }
    ASSERT_TRUE(client_.GetFile("list.inf", local_ / "list.inf"));
}

INSTANTIATE_TEST_SUITE_P(MlsdAndList, FtpClientTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "List" : "Mlsd"; });

TEST(FtpClient, WrongLoginUnknownPortAndHostileHostFail) {
    TempDir root;
    PyFtpServer server(root.Path());
    ASSERT_TRUE(server.Ready());
    FtpClient client;
    EXPECT_FALSE(
        client.Connect("127.0.0.1", static_cast<std::uint16_t>(server.Port()), "patch", "wrong"));
    EXPECT_NE(client.LastError(), 0);
    EXPECT_FALSE(client.IsOpen());
    const int closedPort = testsupport::FreeLoopbackPort();
    EXPECT_FALSE(client.Connect("127.0.0.1", static_cast<std::uint16_t>(closedPort), "a", "b"));
    EXPECT_FALSE(client.Connect("evil@127.0.0.1/x", static_cast<std::uint16_t>(server.Port()),
                                "patch", "secret"));
}

TEST(FtpClient, ControlCharactersNeverReachTheControlConnection) {
    TempDir root;
    TempDir local;
    FillRoot(root.Path());
    PyFtpServer server(root.Path());
    ASSERT_TRUE(server.Ready());
    const auto port = static_cast<std::uint16_t>(server.Port());
    FtpClient client;
    EXPECT_FALSE(client.Connect("127.0.0.1", port, "patch\r\nDELE version.wvd", "secret"));
    EXPECT_FALSE(client.Connect("127.0.0.1", port, "patch", "secret\r\nRMD 1.00.01"));
    EXPECT_FALSE(client.Connect("127.0.0.1", port, "patch", std::string("sec\0ret", 7)));
    EXPECT_NE(client.LastErrorText().find("control character"), std::string::npos)
        << client.LastErrorText();
    EXPECT_FALSE(client.Connect("127.0.0.1\r\nNOOP", port, "patch", "secret"));
    ASSERT_TRUE(client.Connect("127.0.0.1", port, "patch", "secret"));
    EXPECT_FALSE(client.SetCurrentDirectory("1.00.01\nRMD 1.00.01"));
    EXPECT_FALSE(client.GetFile("a.bmd\rDELE a.bmd", local / "a"));
    EXPECT_EQ(client.OpenFile("a.bmd\x7f"), nullptr);
    for (const std::string& command : server.Commands()) {
        EXPECT_EQ(command.find("DELE"), std::string::npos) << command;
        EXPECT_EQ(command.find("RMD"), std::string::npos) << command;
        EXPECT_EQ(command.find("NOOP"), std::string::npos) << command;
    }
    EXPECT_TRUE(fs::exists(root / "version.wvd"));
}

TEST(FtpClient, LoginDirectoryNamedLikeADriveIsKeptAndReturnedTo) {
    TempDir root;
    TempDir local;
    FillRoot(root.Path());
    FtpServerOptions options;
    options.DrivePwd = true;
    PyFtpServer server(root.Path(), options);
    ASSERT_TRUE(server.Ready());
    FtpClient client;
    ASSERT_TRUE(
        client.Connect("127.0.0.1", static_cast<std::uint16_t>(server.Port()), "patch", "secret"));
    const std::string login = client.GetCurrentDirectory();
    EXPECT_EQ(login, "C:\\ftproot");
    ASSERT_TRUE(client.SetCurrentDirectory("1.00.01"));
    const std::string patch = client.GetCurrentDirectory();
    EXPECT_EQ(patch, "C:\\ftproot/1.00.01");
    ASSERT_TRUE(client.SetCurrentDirectory("Data/Player"));
    ASSERT_TRUE(client.GetFile("p.bmd", local / "p.bmd"));
    // Back to the remembered directories: the login directory, then the patch directory.
    ASSERT_TRUE(client.SetCurrentDirectory(login));
    EXPECT_EQ(client.GetCurrentDirectory(), login);
    ASSERT_TRUE(client.GetFile("version.wvd", local / "version.wvd")) << client.LastErrorText();
    ASSERT_TRUE(client.SetCurrentDirectory(patch));
    ASSERT_TRUE(client.GetFile("list.inf", local / "list.inf"));
    EXPECT_EQ(ReadFile(local / "list.inf"), "\"a.bmd\"\n");
}

TEST(FtpClient, RefusedOpensTruncatedFilesAndStallsFail) {
    TempDir root;
    WriteFile(root / "busy.bin", Pattern(5000));
    WriteFile(root / "short.bin", Pattern(100000));
    FtpServerOptions options;
    options.RefuseRetr = {{"busy.bin", 2}};
    options.Truncate = {{"short.bin", 1000}};
    PyFtpServer server(root.Path(), options);
    ASSERT_TRUE(server.Ready());
    FtpClient client;
    ASSERT_TRUE(
        client.Connect("127.0.0.1", static_cast<std::uint16_t>(server.Port()), "patch", "secret"));
    EXPECT_EQ(client.OpenFile("busy.bin"), nullptr);
    EXPECT_EQ(client.OpenFile("busy.bin"), nullptr);
    auto reader = client.OpenFile("busy.bin");
    ASSERT_TRUE(reader);
    FtpFileReader::Status last{};
    EXPECT_EQ(ReadAll(*reader, &last), Pattern(5000));
    reader.reset();

    // The listing says 100000; the server sends 1000 and ends cleanly. Depending on when
    // the end is seen, the open fails or the reader stops short; never 100000 bytes.
    auto shortReader = client.OpenFile("short.bin");
    if (shortReader) {
        EXPECT_LE(ReadAll(*shortReader, &last).size(), 1000u);
        EXPECT_EQ(shortReader->Received(), 1000u);
    }
}

TEST(FtpClient, StalledTransferFails) {
    TempDir root;
    TempDir local;
    WriteFile(root / "big.bin", Pattern(200000));
    FtpServerOptions options;
    options.Stall = true;
    PyFtpServer server(root.Path(), options);
    ASSERT_TRUE(server.Ready());
    FtpClient client(FtpClient::Options{2});
    ASSERT_TRUE(
        client.Connect("127.0.0.1", static_cast<std::uint16_t>(server.Port()), "patch", "secret"));
    EXPECT_FALSE(client.GetFile("big.bin", local / "big.bin"));
    EXPECT_FALSE(fs::exists(local / "big.bin"));
    auto reader = client.OpenFile("big.bin");
    if (reader) {
        FtpFileReader::Status last{};
        const std::string got = ReadAll(*reader, &last);
        EXPECT_EQ(last, FtpFileReader::Status::Failed);
        EXPECT_LT(got.size(), 200000u);
    }
}

TEST(FtpClient, CloseWhileReadingMakesTheReaderFail) {
    TempDir root;
    WriteFile(root / "a.bin", Pattern(1000000));
    PyFtpServer server(root.Path());
    ASSERT_TRUE(server.Ready());
    FtpClient client;
    ASSERT_TRUE(
        client.Connect("127.0.0.1", static_cast<std::uint16_t>(server.Port()), "patch", "secret"));
    auto reader = client.OpenFile("a.bin");
    ASSERT_TRUE(reader);
    char buffer[2048];
    std::size_t count = 0;
    while (reader->Read(buffer, sizeof buffer, &count) == FtpFileReader::Status::Pending) {
    }
    // What a close button's handler does between two chunks.
    client.Close();
    EXPECT_EQ(reader->Read(buffer, sizeof buffer, &count), FtpFileReader::Status::Failed);
    EXPECT_EQ(count, 0u);
    reader.reset();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_FALSE(client.SetCurrentDirectory("x"));
}

TEST(FtpClient, WorksAgainstVsftpd) {
    const std::string skip = testsupport::VsftpdServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    TempDir root;
    TempDir local;
    FillRoot(root.Path());
    testsupport::VsftpdServer server(root.Path());
    ASSERT_TRUE(server.Ready());
    FtpClient client;
    ASSERT_TRUE(
        client.Connect("127.0.0.1", static_cast<std::uint16_t>(server.Port()), "anonymous", "x"))
        << client.LastErrorText();
    ASSERT_TRUE(client.SetCurrentDirectory("1.00.01"));
    EXPECT_FALSE(client.SetCurrentDirectory("nope"));
    const auto listing = client.ListDirectory();
    ASSERT_TRUE(listing.has_value());
    bool sawBmd = false;
    for (const auto& entry : *listing) sawBmd |= entry.Name == "a.bmd" && entry.Size == 300000;
    EXPECT_TRUE(sawBmd);
    auto reader = client.OpenFile("a.bmd");
    ASSERT_TRUE(reader);
    FtpFileReader::Status last{};
    EXPECT_EQ(ReadAll(*reader, &last), Pattern(300000));
    reader.reset();
    const auto stat = client.Stat("a.bmd");
    ASSERT_TRUE(stat) << client.LastErrorText();
    EXPECT_EQ(stat->Size, 300000u);
    EXPECT_GT(stat->Modified, 0);
    auto rest = client.OpenFile("a.bmd", {}, 299000);
    ASSERT_TRUE(rest) << client.LastErrorText();
    EXPECT_TRUE(ReadAll(*rest, &last) == Pattern(300000).substr(299000));
    rest.reset();
    ASSERT_TRUE(client.SetCurrentDirectory("/1.00.01/Data/Player"));
    ASSERT_TRUE(client.GetFile("p.bmd", local / "p.bmd"));
    EXPECT_EQ(ReadFile(local / "p.bmd"), "player");
}

}  // namespace
