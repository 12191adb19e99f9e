// Stamping an extracted file with its entry's time and attributes. The file system keeps no
// creation time and no MS-DOS attributes: the last-write time and the read-only bit (as the
// write permission bits) are what carries over.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "archive/FileException.h"
#include "archive/UnzipFile.h"

void CUnzipFile::ApplyEntryStatus(CFile& output, const EntryInfo& info) {
    const std::string path = output.GetFilePath();
    output.Close();
    ApplyEntryStatus(path, info);
}

void CUnzipFile::ApplyEntryStatus(const std::string& path, const EntryInfo& info) {
    struct timespec times[2]{};
    times[0].tv_nsec = UTIME_NOW;
    times[1].tv_sec = static_cast<time_t>(info.modificationTime);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw CFileException(path, errno, "set the time of");

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return;
    mode_t mode = st.st_mode & 07777;
    if (info.ExternalAttributes & kDosReadOnlyAttribute)
        mode &= static_cast<mode_t>(~0222);
    else
        mode |= S_IWUSR;
    (void)::chmod(path.c_str(), mode);
}
