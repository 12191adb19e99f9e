#include "platform/WineServerGuard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace {

std::filesystem::path TempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Directories that may hold the prefix's server directory.
std::vector<std::filesystem::path> ServerRoots(const std::filesystem::path& prefix) {
    std::vector<std::filesystem::path> roots;
    std::ifstream named(prefix / "wineserver");
    std::string name;
    if (named && std::getline(named, name) && !name.empty()) {
        if (name.front() == '/') {
            roots.emplace_back(name);
        } else if (name.find('/') == std::string::npos) {
            roots.push_back(TempRoot() / name);
            roots.push_back(std::filesystem::path("/tmp") / name);
        }
    }
    roots.push_back(std::filesystem::path("/tmp") / (".wine-" + std::to_string(::getuid())));
    return roots;
}

// A wineserver process of ours working in a directory called `serverName`.
bool ServerProcessRuns(const std::string& serverName) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream comm(it->path() / "comm");
        std::string command;
        if (!std::getline(comm, command) || command.rfind("wineserver", 0) != 0) continue;
        std::error_code linkError;
        const auto cwd = std::filesystem::read_symlink(it->path() / "cwd", linkError);
        if (!linkError && cwd.filename() == serverName) return true;
    }
    return false;
}

}  // namespace

WineServerGuard::WineServerGuard(const std::filesystem::path& prefix) {
    struct stat info {};
    if (::stat(prefix.c_str(), &info) != 0) return;  // no prefix: no server either
    char serverName[64];
    std::snprintf(serverName, sizeof serverName, "server-%llx-%llx",
                  static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));

    for (const auto& root : ServerRoots(prefix)) {
        const std::filesystem::path lock = root / serverName / "lock";
        const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;  // no server has used this place
        struct flock request {};
        request.l_type = F_WRLCK;
        request.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &request) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EAGAIN || error == EACCES) state_ = State::Running;
            continue;
        }
        lockFds_.push_back(fd);
    }
    if (state_ != State::Running && ServerProcessRuns(serverName)) state_ = State::Running;
    if (state_ == State::Running) {
        for (const int fd : lockFds_) ::close(fd);
        lockFds_.clear();
    }
}

WineServerGuard::~WineServerGuard() {
    for (const int fd : lockFds_) ::close(fd);
}
