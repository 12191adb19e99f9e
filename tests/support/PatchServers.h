#pragma once
// Real servers for the tests, each on a free loopback port, stopped when the object dies: the
// development connect server, and the patch servers pyftpdlib (with optional misbehaviour),
// vsftpd (anonymous, as root), nginx and a lying HTTP server.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

struct FtpServerOptions {
    std::string User = "patch";
    std::string Password = "secret";
    bool NoMlsd = false;                                  // hide MLSD: clients must use LIST
    std::vector<std::pair<std::string, int>> RefuseRetr;  // file name, how many RETR to refuse
    std::vector<std::pair<std::string, int>> Truncate;    // file name, bytes actually sent
    bool Stall = false;                                   // RETR is accepted, then nothing moves
    std::vector<std::string> StallFiles;                  // ... for these file names only
    int SlowBytesPerSecond = 0;                           // throttle downloads (0: full speed)
    bool DrivePwd = false;         // PWD answers a drive path (257 "C:\ftproot"), CWD accepts it
    int SteadyBytesPerSecond = 0;  // throttle in small pieces, all along the transfer
    bool RefuseRest = false;       // answer 502 to REST of any offset but 0
};

// A server program on a loopback port, run from a scratch folder of its own (its settings
// and server.log there), killed when the object dies.
class LoopbackServer {
public:
    virtual ~LoopbackServer() = default;
    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    // What the server wrote on stderr.
    std::string Log() const;
    // Empty when it serves; otherwise why not (the program cannot run here, or it did not
    // start and said why), for GTEST_SKIP.
    std::string Failure() const;

protected:
    // Runs `argv` and waits until the port accepts. With `portArgument` (the index of the port
    // in argv) a server whose free port was taken by a test beside it before it bound it is
    // started again on another.
    void Start(std::vector<std::string> argv, std::optional<std::size_t> portArgument = {});

    TempDir scratch_;
    int port_ = 0;
    std::string address_ = "127.0.0.1";
    std::filesystem::path logFile_ = scratch_ / "server.log";
    bool ready_ = false;
    std::string cannotRun_;  // set instead of starting
    std::string program_;
    std::unique_ptr<ChildProcess> child_;
};

// torvane-connectd, the development connect server, with `config` written to
// dir/connectd.conf and its stderr in dir/connectd.log; on `port` (0: a free one) of
// `address`.
class ConnectdServer : public LoopbackServer {
public:
    ConnectdServer(const std::filesystem::path& dir, const std::string& config, int port = 0,
                   const std::string& address = "127.0.0.1");
};

// How a repository is served: everything in it, or only what players may fetch (names
// starting with a dot, versions still being written, are refused; nothing is cached), as a
// deployment serves it.
enum class Exposure { Everything, PublishedOnly };

class PyFtpServer : public LoopbackServer {
public:
    PyFtpServer(const std::filesystem::path& root, const FtpServerOptions& options = {});
    // Control connections accepted so far.
    int ConnectionCount() const;
    // How many RETR of a file with this name (no directory) the server has received.
    int RetrievalCount(const std::string& name) const;
    // Every command line the server received, in order.
    std::vector<std::string> Commands() const;
    // The torvane-connectd settings lines that hand out this server (version file
    // "version.wvd") as the patch server.
    std::string ConnectdPatchLines() const;

private:
    std::string user_;
    std::string password_;
};

// Anonymous vsftpd serving `root` (made world-readable). Needs root and the "ftp" account.
class VsftpdServer : public LoopbackServer {
public:
    explicit VsftpdServer(const std::filesystem::path& root,
                          Exposure exposure = Exposure::Everything);
    // Empty when vsftpd can run here, else why not (for GTEST_SKIP).
    static std::string SkipReason();
};

// A certificate authority and a server certificate for 127.0.0.1 signed by it, made with
// openssl at test time (valid two days).
struct TestCertificates {
    std::filesystem::path Authority;    // PEM certificate of the authority
    std::filesystem::path Certificate;  // the server's, for 127.0.0.1
    std::filesystem::path Key;          // the server's private key
};
// Nullopt (with `error`) when openssl fails.
std::optional<TestCertificates> MakeTestCertificates(const std::filesystem::path& dir,
                                                     std::string& error);

// nginx serving `root` as static files on 127.0.0.1:Port(), over TLS when `tls` is given,
// each response sent at most `bytesPerSecond` fast when that is not 0.
class NginxServer : public LoopbackServer {
public:
    explicit NginxServer(const std::filesystem::path& root,
                         const std::optional<TestCertificates>& tls = std::nullopt,
                         Exposure exposure = Exposure::Everything, int bytesPerSecond = 0);
    // nginx with these server blocks included as a distribution's nginx.conf includes its
    // sites; they listen on `port`.
    NginxServer(const std::vector<std::string>& sites, int port);
    static std::string SkipReason();
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
    // One line per request: method, path, status, body bytes sent, the Range header (quoted,
    // "-" when none).
    std::filesystem::path AccessLog() const { return scratch_.Path() / "logs/access.log"; }

private:
    // Writes nginx.conf with `servers` in its http block, and starts it.
    void Launch(const std::string& servers);
};

// A static HTTP server (Python) that lies about chosen files: `shortFiles` are sent cut to half
// with a Content-Length that matches the cut, `endlessFiles` as an endless body.
class LyingHttpServer : public LoopbackServer {
public:
    LyingHttpServer(const std::filesystem::path& root, const std::vector<std::string>& shortFiles,
                    const std::vector<std::string>& endlessFiles);
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
};

// Makes `root` and everything below it readable by other users (servers that drop rights).
void MakeWorldReadable(const std::filesystem::path& root);

}  // namespace testsupport
