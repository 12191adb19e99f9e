// The skin picture reader over well-formed, odd and broken files.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "BmpTestFiles.h"
#include "support/TestSupport.h"
#include "ui/BmpFile.h"
#include "ui/DIBitmap.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::filesystem::path& file) {
    const std::string text = testsupport::ReadFile(file);
    return {text.begin(), text.end()};
}

std::vector<std::filesystem::path> BmpFilesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".bmp") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(BmpCorpus, GoodFilesLoadAndBadOnesAreRefused) {
    TORVANE_REQUIRE_CORPUS(corpus);
    const auto good = BmpFilesIn(corpus / "bmp" / "g");
    const auto bad = BmpFilesIn(corpus / "bmp" / "b");
    ASSERT_FALSE(good.empty());
    ASSERT_FALSE(bad.empty());
    for (const auto& file : good) {
        CDIBitmap dib;
        EXPECT_TRUE(dib.LoadFromFile(file)) << file;
        // The suite's pictures are 127 x 64 (the non-square one is taller than wide).
        EXPECT_GT(dib.Width(), 0) << file;
        EXPECT_FALSE(dib.Pixels().empty()) << file;
    }
    for (const auto& file : bad) {
        CDIBitmap dib;
        EXPECT_FALSE(dib.LoadFromFile(file)) << file;
        EXPECT_TRUE(dib.Pixels().empty()) << file;
    }
}

TEST(BmpCorpus, QuestionableFilesNeverCrashAndAcceptedOnesAreConsistent) {
    TORVANE_REQUIRE_CORPUS(corpus);
    for (const auto& file : BmpFilesIn(corpus / "bmp" / "q")) {
        CDIBitmap dib;
        if (dib.LoadFromFile(file)) {
            EXPECT_EQ(dib.ToRgb().size(), static_cast<std::size_t>(dib.Width()) * dib.Height() * 3)
                << file;
        }
    }
}

TEST(BmpCorpus, DifferentEncodingsOfOnePictureDecodeAlike) {
    TORVANE_REQUIRE_CORPUS(corpus);
    const auto dir = corpus / "bmp" / "g";
    CDIBitmap reference;
    ASSERT_TRUE(reference.LoadFromFile(dir / "pal8.bmp"));
    for (const char* name : {"pal8rle.bmp", "pal8topdown.bmp", "pal8v4.bmp", "pal8v5.bmp",
                             "pal8os2.bmp", "pal8-0.bmp"}) {
        CDIBitmap other;
        ASSERT_TRUE(other.LoadFromFile(dir / name)) << name;
        ASSERT_EQ(other.Width(), reference.Width()) << name;
        ASSERT_EQ(other.Height(), reference.Height()) << name;
        EXPECT_EQ(other.ToRgb(), reference.ToRgb()) << name;
    }
    CDIBitmap rgb24, rgb32, pal4, pal4rle;
    ASSERT_TRUE(rgb24.LoadFromFile(dir / "rgb24.bmp"));
    ASSERT_TRUE(rgb32.LoadFromFile(dir / "rgb32.bmp"));
    EXPECT_EQ(rgb24.ToRgb(), rgb32.ToRgb());
    ASSERT_TRUE(pal4.LoadFromFile(dir / "pal4.bmp"));
    ASSERT_TRUE(pal4rle.LoadFromFile(dir / "pal4rle.bmp"));
    EXPECT_EQ(pal4.ToRgb(), pal4rle.ToRgb());
}

TEST(BmpLoader, EveryTruncationOfAGoodFileIsRefusedOrDecodedSafely) {
    TORVANE_REQUIRE_CORPUS(corpus);
    for (const char* name : {"pal8rle.bmp", "pal4rle.bmp", "rgb16-565.bmp", "pal8os2.bmp"}) {
        const auto whole = Bytes(corpus / "bmp" / "g" / name);
        for (std::size_t cut = 0; cut < whole.size(); cut += 7) {
            // A copy of exactly `cut` bytes, so the sanitizers see any read past its end.
            std::vector<std::uint8_t> part(whole.begin(), whole.begin() + cut);
            CDIBitmap dib;
            if (dib.LoadFromMemory(part)) {
                EXPECT_EQ(dib.Pixels().size(),
                          static_cast<std::size_t>(DibRowStride(dib.Width(), 8)) * dib.Height());
            }
        }
    }
}

TEST(BmpLoader, RefusesSizesThatDoNotFitTheFile) {
    auto file = bmptest::SolidBmp24(4, 4, 0x102030);
    ASSERT_TRUE(DecodeBmp(file));
    auto huge = file;
    huge[18] = 0xFF;  // width 255 with the same pixel bytes
    EXPECT_FALSE(DecodeBmp(huge));
    auto negativeWidth = file;
    negativeWidth[21] = 0x80;
    EXPECT_FALSE(DecodeBmp(negativeWidth));
    auto noPlanes = file;
    noPlanes[26] = 0;
    EXPECT_FALSE(DecodeBmp(noPlanes));
    auto oddHeader = file;
    oddHeader[14] = 41;
    EXPECT_FALSE(DecodeBmp(oddHeader));
    auto offsetPastEnd = file;
    offsetPastEnd[10] = 0xF0;
    offsetPastEnd[11] = 0xFF;
    EXPECT_FALSE(DecodeBmp(offsetPastEnd));
    EXPECT_FALSE(DecodeBmp(std::span<const std::uint8_t>()));
}

TEST(BmpLoader, PaletteIndicesPastTheTableAreRefused) {
    const std::vector<std::uint32_t> palette{0x000000, 0xFFFFFF};
    const auto good = bmptest::MakeBmp(2, 1, 8, {{0, 1}}, palette, 2);
    ASSERT_TRUE(DecodeBmp(good));
    const auto bad = bmptest::MakeBmp(2, 1, 8, {{0, 2}}, palette, 2);
    EXPECT_FALSE(DecodeBmp(bad));
}

}  // namespace
