#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/FileException.h"
#include "archive/UnzipFile.h"
#include "archive/ZipBuilder.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TempDir;
using ziptest::Archive;
using ziptest::Build;
using ziptest::CauseOf;
using ziptest::Entry;
using ziptest::ReadAll;

// Writes `bytes` as an archive file that lives as long as the fixture.
class UnzipFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const auto path = dir_ / ("a" + std::to_string(counter_++) + ".zip");
        testsupport::WriteFile(path, bytes);
        return path.string();
    }
    std::string Write(const Archive& archive) { return Write(Build(archive)); }

    TempDir dir_;
    int counter_ = 0;
};

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    unsigned v = 12345;
    for (auto& c : s) {
        v = v * 1103515245u + 12345u;
        c = static_cast<char>((v >> 16) % 7 + 'a');
    }
    return s;
}

TEST_F(UnzipFileTest, StoredAndDeflatedEntriesReadBack) {
    const std::string big = Pattern(100000);
    Archive a;
    a.Entries = {{"Data/", "", 0}, {"one.txt", "hello", 0}, {"Data\\two.bin", big, 8}};
    CUnzipFile zip(Write(a));
    EXPECT_EQ(zip.EntryCount(), 3u);
    EXPECT_EQ(zip.GetEntryName(), "Data/");
    ASSERT_TRUE(zip.MoveNext());
    EntryInfo info;
    zip.GetEntryInfo(&info);
    EXPECT_EQ(info.Method, 0u);
    EXPECT_EQ(info.UncompressedSize, 5u);
    EXPECT_EQ(ReadAll(zip), "hello");
    ASSERT_TRUE(zip.MoveNext());
    EXPECT_EQ(zip.GetEntryName(), "Data\\two.bin");
    EXPECT_EQ(ReadAll(zip), big);
    // The last entry stays current.
    EXPECT_FALSE(zip.MoveNext());
    EXPECT_EQ(zip.EntryIndex(), 2u);
    EXPECT_EQ(zip.GetEntryName(), "Data\\two.bin");
    EXPECT_EQ(ReadAll(zip), big);
    zip.Close();
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_EQ(zip.TrackedZlibBlocks(), 0u);
}

TEST_F(UnzipFileTest, EntryOfExactlyOneBufferNeedsASecondRead) {
    const std::string data = Pattern(CUnzipFile::kReadBufferSize);
    for (std::uint16_t method : {0, 8}) {
        Archive a;
        a.Entries = {{"x", data, method}};
        CUnzipFile zip(Write(a));
        zip.OpenEntry();
        std::vector<char> buffer(CUnzipFile::kReadBufferSize);
        EXPECT_EQ(zip.ReadEntry(buffer.data(), buffer.size()), buffer.size());
        EXPECT_EQ(std::string(buffer.data(), buffer.size()), data);
        EXPECT_EQ(zip.ReadEntry(buffer.data(), buffer.size()), 0u);
        EXPECT_EQ(zip.ReadEntry(nullptr, 10), 0u);
        zip.Close();
    }
}

TEST_F(UnzipFileTest, LeadingJunkShiftsOffsets) {
    Archive a;
    a.Prefix = std::string(1024, 'J');
    a.Entries = {{"a", "alpha", 8}, {"b", "beta", 0}};
    CUnzipFile zip(Write(a));
    EXPECT_EQ(zip.PrefixBytes(), 1024u);
    EXPECT_EQ(ReadAll(zip), "alpha");
    ASSERT_TRUE(zip.MoveNext());
    EXPECT_EQ(ReadAll(zip), "beta");
}

TEST_F(UnzipFileTest, EndRecordSearchLimit) {
    Archive a;
    a.Entries = {{"a", "alpha", 8}};
    a.Comment = std::string(65513, 'c');
    CUnzipFile zip(Write(a));
    EXPECT_EQ(zip.CommentLength(), 65513u);
    EXPECT_EQ(ReadAll(zip), "alpha");

    a.Comment = std::string(65514, 'c');
    const std::string tooFar = Write(a);
    EXPECT_EQ(CauseOf([&] { CUnzipFile z(tooFar); }), CZipException::BadArchive);
}

TEST_F(UnzipFileTest, MalformedArchivesAreBadArchive) {
    const std::string good = Build(Archive{{{"a", "alpha", 8}}, "", ""});
    std::vector<std::string> bad = {"", "PK\x05\x06", Build(Archive{}),
                                    "not a zip at all, just some text",
                                    good.substr(0, good.size() - 1)};
    std::string wrongCentralSig = good;
    wrongCentralSig[good.find("PK\x01\x02") + 3] = 9;
    bad.push_back(wrongCentralSig);
    std::string unequalCounts = good;
    unequalCounts[good.size() - 22 + 8] = 2;
    bad.push_back(unequalCounts);
    std::string disk = good;
    disk[good.size() - 22 + 4] = 1;
    bad.push_back(disk);
    std::string centralPastEnd = good;
    centralPastEnd[good.size() - 22 + 12] = static_cast<char>(0xF0);
    bad.push_back(centralPastEnd);
    for (const std::string& bytes : bad) {
        const std::string path = Write(bytes);
        EXPECT_EQ(CauseOf([&] { CUnzipFile z(path); }), CZipException::BadArchive)
            << "archive of " << bytes.size() << " bytes";
    }
}

TEST_F(UnzipFileTest, LocalHeaderMustAgreeWithCentralRecord) {
    const std::string good = Build(Archive{{{"a", "alpha", 8}}, "", ""});
    // Offsets inside the local header: signature, method, CRC, sizes, name length.
    for (std::size_t offset : {0u, 8u, 14u, 18u, 22u, 26u}) {
        std::string bytes = good;
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5A);
        CUnzipFile zip(Write(bytes));
        EXPECT_EQ(CauseOf([&] { zip.OpenEntry(); }), CZipException::BadArchive) << offset;
    }
    Archive method12;
    method12.Entries = {{"a", "alpha", 12}};
    CUnzipFile zip(Write(method12));
    EXPECT_EQ(CauseOf([&] { zip.OpenEntry(); }), CZipException::BadArchive);
}

TEST_F(UnzipFileTest, CrcMismatchRaisedWhenEntryCloses) {
    Archive a;
    a.Entries = {{"a", "alpha", 8, 0xDEADBEEF}, {"b", "beta", 0}};
    const std::string path = Write(a);
    {
        CUnzipFile zip(path);
        EXPECT_EQ(ReadAll(zip), "alpha");
        ASSERT_TRUE(zip.MoveNext());
        EXPECT_EQ(CauseOf([&] { zip.OpenEntry(); }), CZipException::BadCrc);
    }
    {
        CUnzipFile zip(path);
        EXPECT_EQ(ReadAll(zip), "alpha");
        EXPECT_EQ(CauseOf([&] { zip.Close(); }), CZipException::BadCrc);
    }
    {
        // An entry not read to its end is closed without a check.
        CUnzipFile zip(path);
        zip.OpenEntry();
        char two[2];
        EXPECT_EQ(zip.ReadEntry(two, 2), 2u);
        EXPECT_NO_THROW(zip.Close());
    }
}

TEST_F(UnzipFileTest, CorruptAndShortDataFail) {
    const std::string data = Pattern(50000);
    const std::string deflated = ziptest::Deflate(data);
    const std::string good = Build(Archive{{{"a", data, 8}}, "", ""});
    const std::size_t dataStart = 30 + 1;
    {
        // Garbage in the deflate stream.
        std::string bytes = good;
        for (std::size_t i = 0; i < 64; ++i) bytes[dataStart + i] = static_cast<char>(0xFF);
        CUnzipFile zip(Write(bytes));
        EXPECT_EQ(CauseOf([&] { ReadAll(zip); }), CZipException::ZlibDataError);
        // zlib's blocks are still tracked and go with the object.
        EXPECT_GT(zip.TrackedZlibBlocks(), 0u);
    }
    {
        // The stream stops before its end: inflate stalls.
        Archive cut;
        cut.Entries = {{"a", deflated.substr(0, deflated.size() / 2), 0}};
        std::string built = Build(cut);
        // Same archive, but declared deflated with the full size.
        built[8] = 8;
        const std::size_t central = built.find("PK\x01\x02");
        built[central + 10] = 8;
        for (std::size_t k = 0; k < 4; ++k) {
            const char size = static_cast<char>((data.size() >> (8 * k)) & 0xFF);
            built[22 + k] = size;
            built[central + 24 + k] = size;
            const char crc = static_cast<char>((ziptest::Crc32(data) >> (8 * k)) & 0xFF);
            built[14 + k] = crc;
            built[central + 16 + k] = crc;
        }
        CUnzipFile zip(Write(built));
        EXPECT_EQ(CauseOf([&] { ReadAll(zip); }), CZipException::ZlibBufferError);
    }
    {
        // Stored data shorter than its stated size, and a stream that ends before it.
        for (std::uint16_t method : {0, 8}) {
            Archive a;
            a.Entries = {{"a", "alpha", method, std::nullopt, 9}};
            CUnzipFile zip(Write(a));
            EXPECT_EQ(CauseOf([&] {
                          ReadAll(zip);
                          zip.Close();
                      }),
                      CZipException::BadArchive)
                << method;
        }
    }
    {
        // Sizes that run past the end of the archive file: the read comes up short.
        Archive a;
        a.Entries = {{"a", "alpha", 0, std::nullopt, 100000}};
        std::string bytes = Build(a);
        const std::size_t central = bytes.find("PK\x01\x02");
        for (std::size_t at : {std::size_t{18}, central + 20}) {
            bytes[at] = static_cast<char>(0xA0);
            bytes[at + 1] = static_cast<char>(0x86);
            bytes[at + 2] = 0x01;
        }
        CUnzipFile zip(Write(bytes));
        EXPECT_EQ(CauseOf([&] { ReadAll(zip); }), CZipException::BadArchive);
    }
}

TEST_F(UnzipFileTest, OperationsWithoutEntryOrFile) {
    Archive a;
    a.Entries = {{"a", "alpha", 8}};
    CUnzipFile zip(Write(a));
    char c;
    EXPECT_EQ(CauseOf([&] { zip.ReadEntry(&c, 1); }), CZipException::NoEntry);
    zip.Close();
    EXPECT_EQ(CauseOf([&] { zip.OpenEntry(); }), CZipException::NoEntry);
    EXPECT_THROW(CUnzipFile((dir_ / "missing.zip").string()), CFileException);
    try {
        CUnzipFile((dir_ / "missing.zip").string());
    } catch (const CFileException& e) {
        EXPECT_EQ(e.OsError, ENOENT);
    }
}

TEST_F(UnzipFileTest, NameBufferGetsNulOnlyWhenLarger) {
    Archive a;
    a.Entries = {{"name.txt", "x", 0}};
    CUnzipFile zip(Write(a));
    char exact[8];
    std::memset(exact, '#', sizeof exact);
    zip.GetEntryInfo(nullptr, exact, sizeof exact);
    EXPECT_EQ(std::string(exact, 8), "name.txt");
    char larger[10];
    std::memset(larger, '#', sizeof larger);
    zip.GetEntryInfo(nullptr, larger, sizeof larger);
    EXPECT_STREQ(larger, "name.txt");
    EXPECT_EQ(larger[9], '#');
    char shorter[5] = {'#', '#', '#', '#', '#'};
    zip.GetEntryInfo(nullptr, shorter, 4);
    EXPECT_EQ(std::string(shorter, 5), "name#");
}

TEST_F(UnzipFileTest, ApplyEntryStatusStampsTimeAndReadOnlyBit) {
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    // 1980-01-01 00:00:00 and 2025-04-11 13:33:42.
    EXPECT_EQ(DosDateTimeToLocalTime(0x00210000), 315532800);
    EXPECT_EQ(DosDateTimeToLocalTime(0x5A8B6C35), 1744378422);

    EntryInfo info;
    info.ModificationTime = DosDateTimeToLocalTime(0x5A8B6C35);
    info.ExternalAttributes = 0x21;  // archive + read-only
    CFile out;
    const std::string path = (dir_ / "stamped").string();
    ASSERT_TRUE(out.Open(path, CFile::modeCreate));
    out.Write("abc", 3);
    CUnzipFile::ApplyEntryStatus(out, info);
    EXPECT_FALSE(out.IsOpen());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1744378422);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(st.st_size, 3);

    info.ExternalAttributes = 0x20;
    CUnzipFile::ApplyEntryStatus(path, info);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(st.st_mode & 0111, 0u);

    // Made on Unix with mode 0755: the execute bits come back where the file is readable,
    // and a made-on-DOS entry with the same bits set means nothing.
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    info.ExternalAttributes = ((S_IFREG | 0755u) << 16) | 0x20;
    info.VersionMadeBy = 0x0314;
    CUnzipFile::ApplyEntryStatus(path, info);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    info.VersionMadeBy = 0x0014;
    CUnzipFile::ApplyEntryStatus(path, info);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // A directory or link mode stored for a file entry is not applied.
    info.VersionMadeBy = 0x0314;
    info.ExternalAttributes = ((S_IFLNK | 0777u) << 16) | 0x20;
    CUnzipFile::ApplyEntryStatus(path, info);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    if (oldTz)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
