// Locating the central directory from an archive's last bytes only, as a ranged fetch of one
// entry does: archives written by zip itself (with and without a comment) and a zip64 one,
// and tails that are too short or lie about where the directory is.

#include <gtest/gtest.h>

#include <string>

#include "archive/ZipEndRecords.h"

namespace {

std::string Le(std::uint64_t value, int width) {
    std::string out;
    for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string EndRecord(std::uint64_t entries, std::uint64_t size, std::uint64_t offset,
                      const std::string& comment = "") {
    return Le(0x06054b50, 4) + Le(0, 4) + Le(entries, 2) + Le(entries, 2) + Le(size, 4) +
           Le(offset, 4) + Le(comment.size(), 2) + comment;
}

TEST(ZipEndRecordsTest, PlainCommentedAndZip64ArchivesAreFound) {
    // 1000 bytes of entries, a 200-byte directory, then the end record.
    const std::string plain = EndRecord(3, 200, 1000);
    auto where = FindCentralDirectory(std::string(40, 'x') + plain, 1200 + plain.size());
    ASSERT_TRUE(where);
    EXPECT_EQ(where->Offset, 1000u);
    EXPECT_EQ(where->Size, 200u);

    // A comment that itself holds an end record's signature: the real record is the one whose
    // comment reaches the archive's end.
    const std::string comment = "PK\x05\x06 not a record";
    const std::string commented = EndRecord(3, 200, 1000, comment);
    where = FindCentralDirectory(commented, 1200 + commented.size());
    ASSERT_TRUE(where);
    EXPECT_EQ(where->Offset, 1000u);
    // The plain tail is too short for it: nothing is found, the caller asks for more.
    EXPECT_FALSE(
        FindCentralDirectory(commented.substr(commented.size() - 22), 1200 + commented.size()));

    // zip64: saturated fields, the locator and the 64-bit record right before it.
    const std::uint64_t directoryAt = std::uint64_t{5} << 30;
    const std::uint64_t recordAt = directoryAt + 300;
    const std::string zip64Record = Le(0x06064b50, 4) + Le(44, 8) + Le(45, 2) + Le(45, 2) +
                                    Le(0, 4) + Le(0, 4) + Le(3, 8) + Le(3, 8) + Le(300, 8) +
                                    Le(directoryAt, 8);
    const std::string locator = Le(0x07064b50, 4) + Le(0, 4) + Le(recordAt, 8) + Le(1, 4);
    const std::string tail = zip64Record + locator + EndRecord(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    ASSERT_EQ(tail.size(), kZipPlainTailBytes);
    where = FindCentralDirectory(tail, recordAt + tail.size());
    ASSERT_TRUE(where);
    EXPECT_EQ(where->Offset, directoryAt);
    EXPECT_EQ(where->Size, 300u);
}

TEST(ZipEndRecordsTest, RecordsThatPointOutsideTheArchiveAreRefused) {
    // A directory said to reach past the end record, or to start beyond it.
    const std::string tooLong = EndRecord(1, 5000, 1000);
    EXPECT_FALSE(FindCentralDirectory(tooLong, 1200 + tooLong.size()));
    const std::string beyond = EndRecord(1, 10, 90000);
    EXPECT_FALSE(FindCentralDirectory(beyond, 1200 + beyond.size()));
    // No record at all, a tail longer than the archive, and a saturated record without a
    // locator.
    EXPECT_FALSE(FindCentralDirectory(std::string(98, 'x'), 5000));
    EXPECT_FALSE(FindCentralDirectory(EndRecord(1, 1, 1), 10));
    EXPECT_FALSE(FindCentralDirectory(EndRecord(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF), 5000));
}

}  // namespace
