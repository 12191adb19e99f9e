#pragma once
// Real patch servers for the round trip, each on a free loopback port, serving a repository
// read-only with the configurations docs/deploying.md recommends. Stopped with the object.

#include <filesystem>
#include <memory>
#include <string>

#include "support/TestSupport.h"

namespace publishtest {

class PatchServer {
public:
    virtual ~PatchServer() = default;
    int Port() const { return port_; }
    // Empty when the server is running; otherwise why not (program missing, did not start).
    const std::string& Failure() const { return failure_; }

protected:
    void Start(const std::vector<std::string>& argv, const std::filesystem::path& log);

    int port_ = 0;
    std::string failure_;
    std::unique_ptr<testsupport::ChildProcess> process_;
};

// vsftpd, anonymous and read-only, passive ports from a free range.
class VsftpdServer : public PatchServer {
public:
    VsftpdServer(const std::filesystem::path& repository, const std::filesystem::path& work);
};

// pyftpdlib with one account (user "patch", password "secret").
class PyftpdlibServer : public PatchServer {
public:
    PyftpdlibServer(const std::filesystem::path& repository, const std::filesystem::path& work);
};

// nginx in the foreground, one process, the repository as the site's root.
class NginxServer : public PatchServer {
public:
    NginxServer(const std::filesystem::path& repository, const std::filesystem::path& work);
};

}  // namespace publishtest
