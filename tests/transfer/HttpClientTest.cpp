#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/HttpClient.h"
#include "platform/ProgramInfo.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::NginxServer;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A raw HTTP server in Python: answers every request with `headers` and `body`, then, if
// `hang`, keeps the connection open without sending anything more.
std::unique_ptr<ChildProcess> StartRawServer(int port, const std::string& response, bool hang) {
    const std::string script =
        "import socket,sys,time\n"
        "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
        "s.bind(('127.0.0.1'," +
        std::to_string(port) +
        ")); s.listen(8)\n"
        "resp=sys.stdin.buffer.read()\n"
        "while True:\n"
        "  c,_=s.accept(); c.recv(65536); c.sendall(resp)\n"
        "  if " +
        (hang ? "True" : "False") +
        ": time.sleep(3600)\n"
        "  c.close()\n";
    ChildProcess::Options options;
    options.StdinText = response;
    auto child = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-c", script}, options);
    EXPECT_TRUE(testsupport::WaitForPort(port));
    return child;
}

TEST(HttpClient, DownloadsIntoPlaceWithProgressAndFailsCleanly) {
    const std::string skip = NginxServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    TempDir root;
    TempDir local;
    std::string body(1500000, 'x');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    fs::create_directories(root / "1.00.01");
    WriteFile(root / "1.00.01" / "up_list.zip", body);
    NginxServer server(root.Path());
    ASSERT_TRUE(server.Ready());

    HttpClient client;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    Progress watcher(
        [&](std::uint64_t got, std::uint64_t total) { progress.emplace_back(got, total); });
    const auto result =
        client.Download("http://" + server.Host() + "/1.00.01/up_list.zip?time=12345",
                        local / "up_list.zip", &watcher);
    ASSERT_EQ(result, HttpClient::Result::Ok);
    EXPECT_EQ(ReadFile(local / "up_list.zip"), body);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().first, body.size());
    for (const auto& p : progress) EXPECT_EQ(p.second, body.size());
    for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_GT(progress[i].first, progress[i - 1].first);

    // A missing file: no file appears, an old one stays as it was.
    WriteFile(local / "list.inf", "old");
    EXPECT_EQ(client.Download("http://" + server.Host() + "/nothing/list.inf", local / "list.inf"),
              HttpClient::Result::Failed);
    EXPECT_EQ(client.LastHttpStatus(), 404);
    EXPECT_EQ(ReadFile(local / "list.inf"), "old");
    EXPECT_EQ(testsupport::ListTree(local.Path()),
              (std::vector<std::string>{"list.inf", "up_list.zip"}));

    // A stop request ends the download without leaving anything.
    Progress stop;
    stop.Cancel();
    EXPECT_EQ(
        client.Download("http://" + server.Host() + "/1.00.01/up_list.zip", local / "again", &stop),
        HttpClient::Result::Stopped);
    EXPECT_FALSE(fs::exists(local / "again"));
    // Only http and https.
    EXPECT_EQ(client.Download("file:///etc/passwd", local / "passwd"), HttpClient::Result::Failed);
    EXPECT_FALSE(fs::exists(local / "passwd"));
}

TEST(HttpClient, UnknownLengthReportsZeroTotalAndStallsFail) {
    TempDir local;
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartRawServer(port, "HTTP/1.0 200 OK\r\n\r\nhello without length", false);
    HttpClient client(HttpClient::Options{2});
    std::vector<std::uint64_t> totals;
    Progress watcher([&](std::uint64_t, std::uint64_t total) { totals.push_back(total); });
    ASSERT_EQ(
        client.Download("http://127.0.0.1:" + std::to_string(port) + "/v", local / "v", &watcher),
        HttpClient::Result::Ok);
    EXPECT_EQ(ReadFile(local / "v"), "hello without length");
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back(), 0u);

    // Announces 100000 bytes, sends 5 and goes quiet: fails after the stall time.
    const int stallPort = testsupport::FreeLoopbackPort();
    auto stalling =
        StartRawServer(stallPort, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nhello", true);
    EXPECT_EQ(client.Download("http://127.0.0.1:" + std::to_string(stallPort) + "/z", local / "z"),
              HttpClient::Result::Failed);
    EXPECT_FALSE(fs::exists(local / "z"));

    // A stop request from another thread ends a stalled download too.
    HttpClient patient;
    Progress stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.Cancel();
    });
    EXPECT_EQ(patient.Download("http://127.0.0.1:" + std::to_string(stallPort) + "/z", local / "z",
                               &stop),
              HttpClient::Result::Stopped);
    stopper.join();
}

TEST(HttpClient, HonoursTheProxyEnvironment) {
    TempDir local;
    const int port = testsupport::FreeLoopbackPort();
    auto proxy =
        StartRawServer(port, "HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nvia-proxy", false);
    ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    HttpClient client;
    // The host does not exist; only the proxy can answer.
    const auto result = client.Download("http://patch.invalid/version.wvd", local / "v");
    ::unsetenv("http_proxy");
    ASSERT_EQ(result, HttpClient::Result::Ok);
    EXPECT_EQ(ReadFile(local / "v"), "via-proxy");
}

}  // namespace

namespace {

// Every request names the launcher and its version, so a patch server's operator can tell
// launchers apart in the access log.
TEST(HttpUserAgentTest, RequestsCarryTheProductAndVersion) {
    TempDir dir;
    const int port = testsupport::FreeLoopbackPort();
    const std::string script =
        "import socket,sys\n"
        "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
        "s.bind(('127.0.0.1'," +
        std::to_string(port) +
        ")); s.listen(1)\n"
        "while True:\n"
        "  c,_=s.accept(); req=c.recv(65536)\n"
        "  if req: break\n"
        "  c.close()\n"
        "open(sys.argv[1],'wb').write(req)\n"
        "c.sendall(b'HTTP/1.1 200 OK\\r\\nContent-Length: 2\\r\\nConnection: "
        "close\\r\\n\\r\\nok')\n"
        "c.close()\n";
    ChildProcess server({"/usr/bin/python3", "-c", script, (dir / "request").string()}, {});
    ASSERT_TRUE(testsupport::WaitForPort(port));
    HttpClient client;
    EXPECT_EQ(client.Download("http://127.0.0.1:" + std::to_string(port) + "/x", dir / "x"),
              HttpClient::Result::Ok);
    server.Wait(20000);
    const std::string request = ReadFile(dir / "request");
    const std::string agent = std::string("Torvane/") + ProductVersion() + " (game launcher)";
    EXPECT_NE(request.find("\r\nUser-Agent: " + agent + "\r\n"), std::string::npos) << request;
    EXPECT_EQ(HttpClient::UserAgent(), agent);
}

}  // namespace
