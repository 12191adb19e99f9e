// Archives of 64-bit size: an entry of 5 GiB made by Python's zipfile and Info-ZIP's zip from
// a sparse file, and an archive of 4.5 GiB with a hole. Minutes of work on a busy machine,
// hence a test program of their own with a longer time limit.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "archive/UnzipFile.h"
#include "archive/Zip64Support.h"
#include "archive/ZipBuilder.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using namespace zip64test;
using ziptest::ReadAll;

// An entry of 5 GiB (mostly a hole in its source) deflated by both makers, read back whole.
TEST(Zip64, FiveGiBEntryFromPythonAndInfoZipReadsByteExact) {
    TempDir dir;
    if (FreeBytes(dir.Path()) < (std::uint64_t{1} << 30))
        GTEST_SKIP() << "less than 1 GiB free in " << dir.Path() << " for the archives";
    const fs::path source = MakeSparseSource(dir.Path());
    MakeWithPython({"big", (dir / "python.zip").string(), source.string()});
    MakeWithInfoZip(dir.Path(), {"-1", "infozip.zip", "big.bin"});

    const int fd = ::open(source.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const auto fromSource = [fd](std::uint64_t offset, char* out, std::size_t size) {
        ASSERT_EQ(::pread(fd, out, size, static_cast<off_t>(offset)), static_cast<ssize_t>(size));
    };
    for (const char* name : {"python.zip", "infozip.zip"}) {
        SCOPED_TRACE(name);
        CUnzipFile zip((dir / name).string());
        EntryInfo info;
        zip.GetEntryInfo(&info);
        EXPECT_EQ(zip.GetEntryName(), "big.bin");
        EXPECT_EQ(info.UncompressedSize, kFiveGiB);
        EXPECT_EQ(StreamCompare(zip, fromSource), kFiveGiB);
        EXPECT_FALSE(zip.MoveNext());
        zip.Close();
    }
    ::close(fd);
}

// An archive of more than 4 GiB: the second entry's header lies beyond what 32 bits reach.
TEST(Zip64, EntryBeyondFourGiBOfArchive) {
    TempDir dir;
    MakeWithPython({"beyond", (dir / "a.zip").string()});
    CUnzipFile zip((dir / "a.zip").string());
    EXPECT_TRUE(zip.HasZip64EndRecord());
    EntryInfo info;
    zip.GetEntryInfo(&info);
    EXPECT_EQ(info.UncompressedSize, std::uint64_t{9} << 29);
    EXPECT_EQ(info.CompressedSize, std::uint64_t{9} << 29);
    const auto zeros = [](std::uint64_t, char* out, std::size_t size) {
        std::memset(out, 0, size);
    };
    EXPECT_EQ(StreamCompare(zip, zeros), std::uint64_t{9} << 29);
    ASSERT_TRUE(zip.MoveNext());
    EXPECT_EQ(zip.GetEntryName(), "after.txt");
    EXPECT_EQ(ReadAll(zip), "written after the first 4 GiB\n");
    zip.Close();
}
