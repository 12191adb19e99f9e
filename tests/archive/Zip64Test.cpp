// Archives with 64-bit records, made by Python's zipfile, Info-ZIP's zip and by hand. Big
// inputs are sparse files and are compared as streams: nothing of gigabytes is stored.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/UnzipFile.h"
#include "archive/Zip64Support.h"
#include "archive/ZipBuilder.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using namespace zip64test;
using ziptest::CauseOf;
using ziptest::ReadAll;

namespace {

// "entry i" text of make_zip64.py's many archives.
std::string EntryText(unsigned i) {
    std::string text;
    for (unsigned k = 0; k < i % 4; ++k) text += "entry " + std::to_string(i) + "\n";
    return text;
}

// Where `signature` (4 bytes) first occurs in `bytes`.
std::size_t Search(const std::string& bytes, const char* signature) {
    const auto at = bytes.find(std::string(signature, 4));
    EXPECT_NE(at, std::string::npos);
    return at;
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
    const std::size_t locator = Search(good, "PK\x06\x07");
    const std::size_t end64 = Search(good, "PK\x06\x06");
    const std::size_t central = Search(good, "PK\x01\x02");
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
