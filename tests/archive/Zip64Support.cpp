#include "archive/Zip64Support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>

#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace zip64test {
void MakeWithPython(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/python3",
                                     testsupport::SourcePath("tests/archive/make_zip64.py")};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto result = testsupport::Run(argv, {}, 1800000);
    ASSERT_EQ(result.ExitCode, 0) << result.Stderr;
}

void MakeWithInfoZip(const fs::path& directory, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"zip", "-q"};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ChildProcess::Options options;
    options.WorkingDirectory = directory;
    const auto result = testsupport::Run(argv, options, 1800000);
    ASSERT_EQ(result.ExitCode, 0) << result.Stderr;
}

// Reads the current entry to its end, comparing each piece with `expected` at the same
// offset; returns the number of bytes read, or stops at the first difference.
std::uint64_t StreamCompare(
    CUnzipFile& zip, const std::function<void(std::uint64_t, char*, std::size_t)>& expected) {
    std::vector<char> got(1 << 20);
    std::vector<char> want(got.size());
    std::uint64_t offset = 0;
    zip.OpenEntry();
    for (;;) {
        const std::size_t n = zip.ReadEntry(got.data(), got.size());
        expected(offset, want.data(), n);
        if (std::memcmp(got.data(), want.data(), n) != 0) {
            ADD_FAILURE() << "bytes differ in the piece at offset " << offset;
            return offset;
        }
        offset += n;
        if (n < got.size()) break;
    }
    zip.CloseEntry();  // the CRC check
    return offset;
}

std::uint64_t FreeBytes(const fs::path& where) {
    struct statvfs st {};
    if (::statvfs(where.c_str(), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

// A sparse file of 5 GiB with a few marks, among them one on each side of 4 GiB.
fs::path MakeSparseSource(const fs::path& dir) {
    const fs::path source = dir / "big.bin";
    const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(kFiveGiB)), 0);
    for (const std::uint64_t at : {std::uint64_t{0}, (std::uint64_t{1} << 32) - 3,
                                   (std::uint64_t{1} << 32) + 77777, kFiveGiB - 9}) {
        const std::string mark = "mark@" + std::to_string(at);
        const auto length = std::min<std::uint64_t>(mark.size(), kFiveGiB - at);
        EXPECT_EQ(::pwrite(fd, mark.data(), length, static_cast<off_t>(at)),
                  static_cast<ssize_t>(length));
    }
    ::close(fd);
    return source;
}

}  // namespace zip64test
