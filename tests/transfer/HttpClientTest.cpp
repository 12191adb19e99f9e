#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/DownloadSink.h"
#include "platform/HttpClient.h"
#include "platform/ProgramInfo.h"
#include "platform/Sha256.h"
#include "support/FaultProxy.h"
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

// A download held to the signed size and hash, plain and resumable: one that differs in
// either never takes its name, keeps nothing for a later run, and says it was refused.
TEST(HttpClient, DownloadsHeldToAnExpectedSizeAndHash) {
    const std::string skip = NginxServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    TempDir root;
    TempDir local;
    std::string body(700000, 'x');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 13 + i / 501);
    WriteFile(root / "up_list.zip", body);
    NginxServer server(root.Path());
    ASSERT_TRUE(server.Ready());
    const std::string url = "http://" + server.Host() + "/up_list.zip";
    struct Case {
        const char* What;
        DownloadExpectation Expected;
        bool Lands;
    };
    const Case cases[] = {
        {"size and hash match", DownloadExpectation::Exactly(body.size(), Sha256Of(body)), true},
        {"another file's hash", DownloadExpectation::Exactly(body.size(), Sha256Of("x")), false},
        {"a larger signed size", DownloadExpectation::Exactly(body.size() + 1, Sha256Of(body)),
         false},
        {"a smaller signed size", DownloadExpectation::Exactly(body.size() - 1, Sha256Of(body)),
         false},
    };
    for (const std::string key : {"", "/up_list.zip"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.What) + (key.empty() ? "" : ", resumable"));
            WriteFile(local / "up_list.zip", "old");
            HttpClient client;
            const auto result =
                client.Download(url, local / "up_list.zip", nullptr, c.Expected, key);
            EXPECT_EQ(result, c.Lands ? HttpClient::Result::Ok : HttpClient::Result::Failed)
                << client.LastErrorText();
            EXPECT_EQ(ReadFile(local / "up_list.zip"), c.Lands ? body : "old");
            EXPECT_EQ(testsupport::ListTree(local.Path()), std::vector<std::string>{"up_list.zip"});
            // A hash that does not match is a refusal; a body longer than the signed size is
            // cut off in transit, a shorter one is refused at its end.
            if (std::string(c.What) != "a smaller signed size") {
                EXPECT_EQ(client.Refused(), !c.Lands) << client.LastErrorText();
            }
        }
    }
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

// A download cut half-way keeps its bytes; the next one asks for the rest with If-Range and
// continues them when the server's file is the one they came from, and starts over (the whole
// file, correct) when it changed or when the server ignores ranges.
TEST(HttpClient, ACutDownloadContinuesOnlyFromTheSameFile) {
    const std::string skip = NginxServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    TempDir root;
    TempDir local;
    auto contents = [](int seed) {
        std::string body(2000000, '\0');
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>(i * 13 + i / 4099 + seed);
        return body;
    };
    const fs::path served = root / "1.00.01" / "up_list.zip";
    WriteFile(served, contents(0));
    NginxServer nginx(root.Path());
    ASSERT_TRUE(nginx.Ready());
    std::vector<std::string> notices;
    HttpClient::Options options;
    options.Notice = [&](const std::string& text) { notices.push_back(text); };
    HttpClient client(options);
    const std::string key = "http://patch.example/1.00.01/up_list.zip";
    const fs::path target = local / "up_list.zip";
    const fs::path part = local / "up_list.zip.part";

    // Through a proxy that closes the connection after about half of the body.
    auto cut = [&] {
        testsupport::FaultOptions fault;
        fault.Fault = testsupport::FaultOptions::Kind::Close;
        fault.Match = "up_list.zip";
        fault.After = 1000000;
        testsupport::FaultProxy proxy(nginx.Port(), fault);
        ASSERT_TRUE(proxy.Ready());
        const std::string url =
            "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/1.00.01/up_list.zip?time=1";
        EXPECT_EQ(client.Download(url, target, nullptr, 0, key), HttpClient::Result::Failed);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_GT(fs::file_size(part), 900000u);
        EXPECT_LT(fs::file_size(part), 1000000u);
    };
    const std::string url = "http://" + nginx.Host() + "/1.00.01/up_list.zip?time=2";

    cut();
    const std::uint64_t kept = fs::file_size(part);
    std::uint64_t lastDone = 0;
    std::uint64_t lastTotal = 0;
    Progress watcher([&](std::uint64_t done, std::uint64_t total) {
        lastDone = done;
        lastTotal = total;
    });
    ASSERT_EQ(client.Download(url, target, &watcher, 0, key), HttpClient::Result::Ok)
        << client.LastErrorText();
    EXPECT_EQ(client.ResumedAt(), kept);
    EXPECT_FALSE(client.StartedOver());
    EXPECT_TRUE(ReadFile(target) == contents(0));
    EXPECT_EQ(lastDone, 2000000u);
    EXPECT_EQ(lastTotal, 2000000u);
    EXPECT_EQ(testsupport::ListTree(local.Path()), std::vector<std::string>{"up_list.zip"});
    const std::string log = ReadFile(nginx.AccessLog());
    EXPECT_NE(log.find("GET /1.00.01/up_list.zip 206 " + std::to_string(2000000 - kept) +
                       " \"bytes=" + std::to_string(kept) + "-\""),
              std::string::npos)
        << log;
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), "resuming " + key + " at " + std::to_string(kept) + " bytes");

    // The file changed after the cut (another date, so another ETag): the whole new one.
    fs::remove(target);
    cut();
    const auto date = fs::last_write_time(served);
    WriteFile(served, contents(1));
    fs::last_write_time(served, date + std::chrono::seconds(10));
    ASSERT_EQ(client.Download(url, target, nullptr, 0, key), HttpClient::Result::Ok);
    EXPECT_TRUE(client.StartedOver());
    EXPECT_TRUE(ReadFile(target) == contents(1));
    EXPECT_EQ(testsupport::ListTree(local.Path()), std::vector<std::string>{"up_list.zip"});
    EXPECT_EQ(notices.back(), "server file changed, starting over: " + key);

    // A server that ignores Range (Python's) answers 200 with the whole file.
    fs::remove(target);
    cut();
    const int port = testsupport::FreeLoopbackPort();
    ChildProcess python({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1",
                         "--directory", root.Path().string(), std::to_string(port)},
                        {});
    ASSERT_TRUE(testsupport::WaitForPort(port));
    ASSERT_EQ(client.Download("http://127.0.0.1:" + std::to_string(port) + "/1.00.01/up_list.zip",
                              target, nullptr, 0, key),
              HttpClient::Result::Ok);
    EXPECT_EQ(client.LastHttpStatus(), 200);
    EXPECT_TRUE(client.StartedOver());
    EXPECT_TRUE(ReadFile(target) == contents(1));
    EXPECT_EQ(testsupport::ListTree(local.Path()), std::vector<std::string>{"up_list.zip"});
}

// A server that answers a range request with the whole file under the same mark has not
// changed the file: the log says it ignores ranges, and the whole file arrives.
TEST(HttpClient, AWholeFileAnswerToARangeUnderTheSameMarkIsNamedAsSuch) {
    TempDir local;
    const std::string body(100000, 'r');
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartRawServer(port,
                                 "HTTP/1.1 200 OK\r\nETag: \"same\"\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body,
                                 false);
    std::vector<std::string> notices;
    HttpClient::Options options;
    options.Notice = [&](const std::string& text) { notices.push_back(text); };
    HttpClient client(options);
    const std::string key = "http://patch.example/up_list.zip";
    const fs::path target = local / "up_list.zip";
    {
        // What a broken earlier download of that file leaves.
        DownloadSink kept(target, ".part");
        ASSERT_TRUE(kept.Open());
        ASSERT_TRUE(kept.KeepForResume({key, body.size(), "\"same\""}));
        ASSERT_TRUE(kept.Write(body.data(), 50000));
        kept.Interrupt();
    }
    ASSERT_TRUE(fs::exists(local / "up_list.zip.part"));
    ASSERT_EQ(client.Download("http://127.0.0.1:" + std::to_string(port) + "/up_list.zip", target,
                              nullptr, 0, key),
              HttpClient::Result::Ok);
    EXPECT_TRUE(client.StartedOver());
    EXPECT_TRUE(ReadFile(target) == body);
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(),
              "server sent the whole file instead of a range, starting over: " + key);
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
