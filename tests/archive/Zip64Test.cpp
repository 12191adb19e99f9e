// Archives with 64-bit records, made by Python's zipfile, Info-ZIP's zip and by hand. Big
// inputs are sparse files and are compared as streams: nothing of gigabytes is stored.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/UnzipFile.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

constexpr std::uint64_t kFiveGiB = std::uint64_t{5} << 30;

void MakeWithPython(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/python3",
                                     testsupport::SourcePath("tests/archive/make_zip64.py")};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto result = testsupport::Run(argv, {}, 900000);
    ASSERT_EQ(result.ExitCode, 0) << result.Stderr;
}

void MakeWithInfoZip(const fs::path& directory, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"zip", "-q"};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ChildProcess::Options options;
    options.WorkingDirectory = directory;
    const auto result = testsupport::Run(argv, options, 900000);
    ASSERT_EQ(result.ExitCode, 0) << result.Stderr;
}

int CauseOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const CZipException& e) {
        return e.cause;
    }
    return 0;
}

std::string ReadAll(CUnzipFile& zip) {
    std::string out;
    std::vector<char> buffer(CUnzipFile::kReadBufferSize);
    zip.OpenEntry();
    for (;;) {
        const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
        out.append(buffer.data(), got);
        if (got < buffer.size()) break;
    }
    zip.CloseEntry();
    return out;
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

// "entry i" text of make_zip64.py's many archives.
std::string EntryText(unsigned i) {
    std::string text;
    for (unsigned k = 0; k < i % 4; ++k) text += "entry " + std::to_string(i) + "\n";
    return text;
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

std::string Search(const std::string& bytes, const char* signature, std::size_t from = 0) {
    const auto at = bytes.find(std::string(signature, 4), from);
    EXPECT_NE(at, std::string::npos);
    return bytes.substr(0, at);  // the bytes before it; its offset is the size
}

}  // namespace

// Python writes 64-bit local headers for small entries while the central records stay 32-bit.
TEST(Zip64, PythonForcedEntriesReadByteExactAlsoAfterLeadingData) {
    TempDir dir;
    MakeWithPython({"small", (dir / "a.zip").string()});
    const std::string plain = testsupport::ReadFile(dir / "a.zip");
    testsupport::WriteFile(dir / "prefixed.zip", std::string(1024, 'J') + plain);
    std::string deflated;
    for (int k = 0; k < 300; ++k)
        for (int b = 0; b < 256; ++b) deflated.push_back(static_cast<char>(b));

    for (const char* name : {"a.zip", "prefixed.zip"}) {
        SCOPED_TRACE(name);
        CUnzipFile zip((dir / name).string());
        EXPECT_EQ(zip.EntryCount(), 3u);
        EXPECT_EQ(zip.GetEntryName(), "stored.txt");
        EXPECT_EQ(ReadAll(zip), "hello");
        ASSERT_TRUE(zip.MoveNext());
        EXPECT_EQ(zip.GetEntryName(), "Data/deflated.bin");
        EXPECT_EQ(ReadAll(zip), deflated);
        ASSERT_TRUE(zip.MoveNext());
        EXPECT_EQ(ReadAll(zip), "");
        EXPECT_FALSE(zip.MoveNext());
        zip.Close();
    }
    EXPECT_EQ(CUnzipFile((dir / "prefixed.zip").string()).PrefixBytes(), 1024u);
}

TEST(Zip64, SeventyThousandEntriesFromPythonAndInfoZip) {
    constexpr unsigned kCount = 70000;
    TempDir dir;
    MakeWithPython({"many", (dir / "python.zip").string(), std::to_string(kCount)});
    // Info-ZIP packs real files: 70 folders of 1000.
    const fs::path tree = dir / "tree";
    for (unsigned i = 0; i < kCount; ++i) {
        const fs::path folder = tree / ("d" + std::to_string(i / 1000));
        if (i % 1000 == 0) fs::create_directories(folder);
        testsupport::WriteFile(folder / ("f" + std::to_string(i) + ".txt"), EntryText(i));
    }
    MakeWithInfoZip(tree, {"-r", "-D", (dir / "infozip.zip").string(), "."});
    fs::remove_all(tree);

    for (const char* name : {"python.zip", "infozip.zip"}) {
        SCOPED_TRACE(name);
        CUnzipFile zip((dir / name).string());
        EXPECT_TRUE(zip.HasZip64EndRecord());
        ASSERT_EQ(zip.EntryCount(), kCount);
        std::vector<bool> seen(kCount, false);
        std::uint64_t entries = 0;
        do {
            const std::string entryName = zip.GetEntryName();
            const auto f = entryName.rfind("/f");
            ASSERT_NE(f, std::string::npos) << entryName;
            const unsigned i = static_cast<unsigned>(std::stoul(entryName.substr(f + 2)));
            ASSERT_LT(i, kCount);
            ASSERT_FALSE(seen[i]) << entryName;
            seen[i] = true;
            ASSERT_EQ(ReadAll(zip), EntryText(i)) << entryName;
            ++entries;
        } while (zip.MoveNext());
        EXPECT_EQ(entries, kCount);
        EXPECT_EQ(zip.EntryIndex(), kCount - 1);
        zip.Close();
    }
}

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

// Damaged 64-bit records are refused as bad archives (cause 11), like damaged 32-bit ones.
TEST(Zip64, DamagedRecordsAreBadArchives) {
    TempDir dir;
    MakeWithPython({"tiny", (dir / "good.zip").string()});
    const std::string good = testsupport::ReadFile(dir / "good.zip");
    {
        CUnzipFile zip((dir / "good.zip").string());
        EXPECT_TRUE(zip.HasZip64EndRecord());
        EXPECT_EQ(ReadAll(zip), std::string(1000, '\0'));
        ASSERT_TRUE(zip.MoveNext());
        EXPECT_EQ(ReadAll(zip), "written after the first 4 GiB\n");
    }
    const std::size_t locator = Search(good, "PK\x06\x07").size();
    const std::size_t end64 = Search(good, "PK\x06\x06").size();
    const std::size_t central = Search(good, "PK\x01\x02").size();
    const std::size_t centralExtra = central + 46 + std::strlen("zeros.bin");
    const std::size_t local = 0;
    const std::size_t localExtra = local + 30 + std::strlen("zeros.bin");
    const std::map<std::string, std::pair<std::size_t, char>> damages = {
        {"locator names another disk", {locator + 4, 1}},
        {"locator counts two disks", {locator + 16, 2}},
        {"end record of another disk", {end64 + 16, 1}},
        {"entry counts differ", {end64 + 24, 3}},
        {"central directory reaching past the end record", {end64 + 46, 1}},
        {"central 64-bit field too short", {centralExtra + 2, 16}},
        {"local 64-bit size differs", {localExtra + 4, 0x01}},
    };
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        std::string bad = good;
        bad[damage.first] = damage.second;
        testsupport::WriteFile(dir / "bad.zip", bad);
        EXPECT_EQ(CauseOf([&] {
                      CUnzipFile zip((dir / "bad.zip").string());
                      ReadAll(zip);
                  }),
                  CZipException::BadArchive);
    }
    // Without a locator the 32-bit fields stand as stored: the saturated counts of the end
    // record are taken literally and the missing records are a bad archive.
    std::string noLocator = good;
    noLocator[locator] = 'X';
    testsupport::WriteFile(dir / "bad.zip", noLocator);
    EXPECT_EQ(CauseOf([&] { CUnzipFile zip((dir / "bad.zip").string()); }),
              CZipException::BadArchive);
}
