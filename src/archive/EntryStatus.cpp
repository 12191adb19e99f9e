// Stamping an extracted file with its entry's time and attributes. The file system keeps no
// creation time and no MS-DOS attributes: the last-write time, the read-only bit (as the
// write permission bits) and, for an entry made on Unix, its execute bits carry over.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "archive/FileException.h"
#include "archive/UnzipFile.h"

namespace {

struct timespec* EntryTimes(const EntryInfo& info, struct timespec (&times)[2]) {
    times[0] = {};
    times[0].tv_nsec = UTIME_NOW;
    times[1] = {};
    times[1].tv_sec = static_cast<time_t>(info.ModificationTime);
    return times;
}

}  // namespace

unsigned CUnzipFile::EntryFileMode(unsigned current, const EntryInfo& info) {
    auto mode = static_cast<mode_t>(current & 07777);
    if (info.ExternalAttributes & kDosReadOnlyAttribute)
        mode &= static_cast<mode_t>(~0222);
    else
        mode |= S_IWUSR;
    // A program or script packed on Unix stays runnable, for whoever may read it; no other
    // bit of the stored mode is taken (the archive does not choose who may write).
    const std::uint32_t unixMode = info.ExternalAttributes >> 16;
    if ((info.VersionMadeBy >> 8) == kMadeByUnix && S_ISREG(unixMode)) {
        const mode_t readable = (mode & 0444) >> 2;
        mode |= static_cast<mode_t>(unixMode & 0111) & readable;
    }
    return mode;
}

// Stamped through the open descriptor (no path look-ups), then closed: the time set last,
// since closing does not touch it.
void CUnzipFile::ApplyEntryStatus(CFile& output, const EntryInfo& info) {
    struct timespec times[2];
    if (::futimens(output.Descriptor(), EntryTimes(info, times)) != 0)
        throw CFileException(output.GetFilePath(), errno, "set the time of");
    struct stat st {};
    if (::fstat(output.Descriptor(), &st) == 0) {
        const auto mode = static_cast<mode_t>(EntryFileMode(st.st_mode, info));
        if (mode != (st.st_mode & 07777)) (void)::fchmod(output.Descriptor(), mode);
    }
    output.Close();
}

void CUnzipFile::ApplyEntryStatus(const std::string& path, const EntryInfo& info) {
    struct timespec times[2];
    if (::utimensat(AT_FDCWD, path.c_str(), EntryTimes(info, times), 0) != 0)
        throw CFileException(path, errno, "set the time of");

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return;
    (void)::chmod(path.c_str(), static_cast<mode_t>(EntryFileMode(st.st_mode, info)));
}
