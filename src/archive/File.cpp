#include "archive/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "archive/FileException.h"

CFile::~CFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool CFile::Open(const std::string& path, OpenMode mode) {
    Close();
    const int flags = mode == modeRead ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    path_ = path;
    lastError_ = 0;
    return true;
}

void CFile::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throw CFileException(path_, errno, "close");
}

std::uint64_t CFile::GetLength() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw CFileException(path_, errno, "stat");
    return static_cast<std::uint64_t>(st.st_size);
}

void CFile::Seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        throw CFileException(path_, errno, "seek in");
}

namespace {

// Calls `readSome(out, size, done)` until `size` bytes came or the file ended (0); errors
// throw CFileException.
template <typename ReadSome>
std::size_t ReadFully(const std::string& path, void* buffer, std::size_t size, ReadSome readSome) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = readSome(out + done, size - done, done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw CFileException(path, errno, "read");
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

std::size_t CFile::Read(void* buffer, std::size_t size) {
    return ReadFully(path_, buffer, size,
                     [this](unsigned char* out, std::size_t left, std::size_t) {
                         return ::read(fd_, out, left);
                     });
}

std::size_t CFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - size)
        throw CFileException(path_, EINVAL, "read");
    return ReadFully(path_, buffer, size,
                     [this, offset](unsigned char* out, std::size_t left, std::size_t done) {
                         return ::pread(fd_, out, left, static_cast<off_t>(offset + done));
                     });
}

void CFile::Write(const void* buffer, std::size_t size) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, in + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw CFileException(path_, errno, "write");
        }
        done += static_cast<std::size_t>(n);
    }
}
