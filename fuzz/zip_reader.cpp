// The zip reader over arbitrary archive bytes (an "up_list.zip" from a patch server): every
// outcome is a result or one of the reader's own exceptions, and zlib's memory is returned.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/FileException.h"
#include "archive/UnzipFile.h"

namespace {

// The input as a file the reader can open by path, without touching the disk.
std::string InputPath(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("zip_reader", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = InputPath(data, size);
    std::vector<char> buffer(CUnzipFile::kReadBufferSize);
    try {
        CUnzipFile zip(path);
        do {
            EntryInfo info;
            zip.GetEntryInfo(&info);
            std::vector<char> name(info.NameLength + 1, '#');
            zip.GetEntryInfo(nullptr, name.data(), name.size());
            if (name[info.NameLength] != '\0') std::abort();
            zip.OpenEntry();
            // Enough to reach the CRC check of small entries without inflating bombs.
            std::size_t total = 0;
            for (int piece = 0; piece < 64; ++piece) {
                const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
                if (got > buffer.size()) std::abort();
                total += got;
                if (got < buffer.size()) break;
            }
            if (total > info.UncompressedSize) std::abort();
        } while (zip.MoveNext());
        zip.Close();
        if (zip.TrackedZlibBlocks() != 0) std::abort();
    } catch (const CZipException& e) {
        if (e.cause < 1 || e.cause > 12) std::abort();
    } catch (const CFileException&) {
    }
    return 0;
}
