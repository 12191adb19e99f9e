#include "platform/AtomicFile.h"

#include "platform/DownloadSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace {

// A rename is only durable once the directory entry itself reached the disk.
void SyncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Fills a sink whose temporary file is a fresh sibling of `target`; the sink's commit puts it
// in place only when everything was written and flushed.
template <typename Fill>
bool ReplaceWith(const std::filesystem::path& target, mode_t mode, bool flush, Fill fill) {
    DownloadSink sink(target);
    sink.SetTemporaryPath(TemporarySibling(target));
    sink.SetMode(mode);
    if (!flush) sink.SetWriteBackStarted();
    if (!sink.Open() || !fill(sink) || !sink.Commit()) {
        if (errno == 0) errno = EIO;
        return false;
    }
    if (flush) SyncDirectory(target.parent_path());
    return true;
}

mode_t ExistingModeOr(const std::filesystem::path& file, mode_t fallback) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    return fallback;
}

mode_t DefaultMode() {
    // Honour the user's umask for new files, as open() would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

std::filesystem::path TemporarySibling(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    std::string name = "." + target.filename().string() + ".tmp" + std::to_string(::getpid()) +
                       "." + std::to_string(counter.fetch_add(1));
    return target.parent_path() / name;
}

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view contents) {
    const mode_t mode = ExistingModeOr(target, DefaultMode());
    errno = 0;
    return ReplaceWith(target, mode, true, [&](DownloadSink& sink) {
        return contents.empty() || sink.Write(contents.data(), contents.size());
    });
}

bool CopyFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target,
                        FlushMode flush) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    errno = 0;
    const bool ok =
        ReplaceWith(target, st.st_mode & 07777, flush == FlushMode::Now, [&](DownloadSink& out) {
            char buffer[64 * 1024];
            while (true) {
                const ssize_t n = ::read(in, buffer, sizeof buffer);
                if (n == 0) return true;
                if (n < 0) {
                    if (errno == EINTR) continue;
                    return false;
                }
                if (!out.Write(buffer, static_cast<std::size_t>(n))) return false;
            }
        });
    const int error = errno;
    ::close(in);
    errno = error;
    return ok;
}

bool SyncFileSystemOf(const std::filesystem::path& path) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::syncfs(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

void StartWriteBack(int fd) {
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}
