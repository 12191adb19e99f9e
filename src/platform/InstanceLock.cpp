#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

long ReadPid(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return pid > 0 ? pid : 0;
}

void WritePid(int fd) {
    const std::string text = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
    }
}

}  // namespace

InstanceLock::InstanceLock(const std::filesystem::path& gameFolder)
    : folder_(gameFolder), file_(gameFolder / kFileName) {
    fd_ = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    // Another user's lock file in a shared folder: locking needs only a readable descriptor.
    if (fd_ < 0) fd_ = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        alreadyExists_ = errno == EWOULDBLOCK;
        if (alreadyExists_) holderPid_ = ReadPid(fd_);
        ::close(fd_);
        fd_ = -1;
        return;
    }
    WritePid(fd_);
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::Describe() const {
    std::string text = "another launcher";
    if (holderPid_ > 0) text += " (process " + std::to_string(holderPid_) + ")";
    return text + " is using the game folder " + folder_.string();
}
