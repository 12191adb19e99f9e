#pragma once
// Real patch servers for the tests, each on a free loopback port, stopped when the object
// dies: pyftpdlib (with optional misbehaviour), vsftpd (anonymous, as root) and nginx.

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
};

class PyFtpServer {
public:
    PyFtpServer(const std::filesystem::path& root, const FtpServerOptions& options = {});
    bool Ready() const { return ready_; }
    int Port() const { return port_; }
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
    TempDir scratch_;
    int port_ = 0;
    bool ready_ = false;
    std::string user_;
    std::string password_;
    std::unique_ptr<ChildProcess> child_;
};

// Anonymous vsftpd serving `root` (made world-readable). Needs root and the "ftp" account.
class VsftpdServer {
public:
    explicit VsftpdServer(const std::filesystem::path& root);
    // Empty when vsftpd can run here, else why not (for GTEST_SKIP).
    static std::string SkipReason();
    bool Ready() const { return ready_; }
    int Port() const { return port_; }

private:
    TempDir scratch_;
    int port_ = 0;
    bool ready_ = false;
    std::unique_ptr<ChildProcess> child_;
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

// nginx serving `root` as static files on 127.0.0.1:Port(), over TLS when `tls` is given.
class NginxServer {
public:
    explicit NginxServer(const std::filesystem::path& root,
                         const std::optional<TestCertificates>& tls = std::nullopt);
    static std::string SkipReason();
    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
    // One line per request: method, path, status, body bytes sent, the Range header (quoted,
    // "-" when none).
    std::filesystem::path AccessLog() const { return scratch_.Path() / "logs/access.log"; }

private:
    TempDir scratch_;
    int port_ = 0;
    bool ready_ = false;
    std::unique_ptr<ChildProcess> child_;
};

// A static HTTP server (Python) that lies about chosen files: `shortFiles` are sent cut to half
// with a Content-Length that matches the cut, `endlessFiles` as an endless body.
class LyingHttpServer {
public:
    LyingHttpServer(const std::filesystem::path& root, const std::vector<std::string>& shortFiles,
                    const std::vector<std::string>& endlessFiles);
    bool Ready() const { return ready_; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int port_ = 0;
    bool ready_ = false;
    std::unique_ptr<ChildProcess> child_;
};

// Makes `root` and everything below it readable by other users (servers that drop rights).
void MakeWorldReadable(const std::filesystem::path& root);

}  // namespace testsupport
