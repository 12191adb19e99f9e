#include <gtest/gtest.h>

#include "platform/FtpListing.h"

namespace {

TEST(FtpListing, MachineListingKeepsFilesAndDirectoriesDropsSelfAndParent) {
    const auto entries = ParseFtpListing(
        "type=cdir;modify=20260101000000; .\r\n"
        "type=pdir;modify=20260101000000; ..\r\n"
        "modify=20261208013047;perm=r;size=3;type=file;unique=fe00; a file.txt\r\n"
        "type=dir;sizd=4096;modify=20260101000000; Data\r\n"
        "Size=12;Type=File; UPPER.BMD\r\n"
        "garbage without facts\r\n"
        "size=5; no type\r\n",
        FtpListingFormat::Machine);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Name, "a file.txt");
    EXPECT_EQ(entries[0].Size, 3u);
    EXPECT_FALSE(entries[0].IsDirectory);
    EXPECT_EQ(entries[1].Name, "Data");
    EXPECT_TRUE(entries[1].IsDirectory);
    EXPECT_EQ(entries[2].Name, "UPPER.BMD");
    EXPECT_EQ(entries[2].Size, 12u);
}

TEST(FtpListing, UnixLinesWithAndWithoutGroupAndBlanksInNames) {
    const auto entries = ParseFtpListing(
        "total 12\n"
        "-rw-r--r--   1 owner    group        1234 Dec  8 01:29 name with  blanks.txt\n"
        "drwxr-xr-x   2 0        0            4096 Jan 01  2025 Data\n"
        "-rw-r--r--   1 ftp            4294967296 Feb 29 2024 big.bin\n"
        "lrwxrwxrwx   1 root root 7 Mar  3 10:00 link -> target\n"
        "-rw-r--r-- bogus\n",
        FtpListingFormat::List);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].Name, "name with  blanks.txt");
    EXPECT_EQ(entries[0].Size, 1234u);
    EXPECT_TRUE(entries[1].IsDirectory);
    EXPECT_EQ(entries[1].Name, "Data");
    EXPECT_EQ(entries[2].Name, "big.bin");
    EXPECT_EQ(entries[2].Size, 4294967296u);
    EXPECT_EQ(entries[3].Name, "link");
    EXPECT_FALSE(entries[3].IsDirectory);
}

TEST(FtpListing, DosAndIisLines) {
    const auto entries = ParseFtpListing(
        "12-05-26  10:15AM       <DIR>          Data\r\n"
        "12-05-2026  09:01PM             1,234 list.inf\r\n"
        "01-01-26  00:00             77 spaced name.bmd\r\n"
        "12-05-26  10:15AM  notanumber x\r\n",
        FtpListingFormat::List);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[0].IsDirectory);
    EXPECT_EQ(entries[1].Name, "list.inf");
    EXPECT_EQ(entries[1].Size, 1234u);
    EXPECT_EQ(entries[2].Name, "spaced name.bmd");
    EXPECT_EQ(entries[2].Size, 77u);
}

TEST(FtpListing, HostileInputNeverYieldsEmptyNamesOrOverflows) {
    EXPECT_TRUE(ParseFtpListing("", FtpListingFormat::List).empty());
    EXPECT_TRUE(ParseFtpListing("\n\r\n\n", FtpListingFormat::Machine).empty());
    // A size that does not fit 64 bits is no entry.
    EXPECT_TRUE(
        ParseFtpListing("type=file;size=99999999999999999999999; x\n", FtpListingFormat::Machine)[0]
            .Size == 0);
    EXPECT_TRUE(ParseFtpListing("-rw-r--r-- 1 a b 99999999999999999999999 Dec  8 01:29 x\n",
                                FtpListingFormat::List)
                    .empty());
    // Entries without a name.
    EXPECT_TRUE(ParseFtpListing("type=file;size=1; \n", FtpListingFormat::Machine).empty());
    EXPECT_TRUE(
        ParseFtpListing("-rw-r--r-- 1 a b 5 Dec  8 01:29\n", FtpListingFormat::List).empty());
    EXPECT_TRUE(ParseFtpListing("12-05-26  10:15AM  5 \n", FtpListingFormat::List).empty());
}

TEST(FtpListing, SizeRepliesAndWhatIsNotOne) {
    EXPECT_EQ(ParseFtpSizeReply("213 1234"), 1234);
    EXPECT_EQ(ParseFtpSizeReply("213 5368709120\r"), 5368709120);
    EXPECT_EQ(ParseFtpSizeReply("213 0"), 0);
    for (const char* line :
         {"", "213", "213 ", "213 x", "550 No such file", "2131234", "213 99999999999999999999"})
        EXPECT_EQ(ParseFtpSizeReply(line), -1) << line;
}

}  // namespace
