#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The user's runtime directory is private; the shared temporary directory gets the user id in
// the name so that another user's lock file cannot stand in the way.
std::filesystem::path LockDirectory(std::string& suffix) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::error_code ec;
        if (std::filesystem::is_directory(runtime, ec)) return runtime;
    }
    suffix = "-" + std::to_string(::getuid());
    std::error_code ec;
    const auto temp = std::filesystem::temp_directory_path(ec);
    return ec ? std::filesystem::path("/tmp") : temp;
}

// The name becomes a file name; keep it to one harmless component.
std::string FileNameFor(const std::string& name, const std::string& suffix) {
    std::string out;
    for (const char c : name) out += (c == '/' || c == '\0') ? '_' : c;
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out + suffix + ".lock";
}

}  // namespace

InstanceLock::InstanceLock(const std::string& name) {
    std::string suffix;
    const std::filesystem::path dir = LockDirectory(suffix);
    const std::filesystem::path file = dir / FileNameFor(name, suffix);
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;  // no lock file possible: do not stop the launcher over it
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        alreadyExists_ = errno == EWOULDBLOCK;
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}
