// The device-independent copy: header, stride, colour table and palette rules.

#include <gtest/gtest.h>

#include "BmpTestFiles.h"
#include "ui/DIBitmap.h"

namespace {

TEST(DIBitmap, TwentyFourBitOptionsBackgroundHasNoTableAndThePaddedStride) {
    CDIBitmap dib;
    ASSERT_TRUE(dib.LoadFromMemory(bmptest::SolidBmp24(385, 486, 0x336699)));
    ASSERT_TRUE(dib.Info());
    const BitmapInfoHeader& h = *dib.Info();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 385);
    EXPECT_EQ(h.biHeight, 486);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(DibRowStride(385, 24), 1156);
    EXPECT_EQ(dib.Pixels().size(), 561816u);
    EXPECT_EQ(h.biSizeImage, 561816u);
    EXPECT_TRUE(dib.ColourTable().empty());
    EXPECT_EQ(dib.InfoBlockSize(), 40u);
    EXPECT_EQ(dib.Palette(), nullptr);
    EXPECT_EQ(dib.PixelRgb(0, 0), 0x336699u);
    EXPECT_EQ(dib.PixelRgb(384, 485), 0x336699u);
}

TEST(DIBitmap, PalettedSourcesKeepTheirDepthAndGetAPalette) {
    std::vector<std::uint32_t> palette(256);
    for (std::uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x010101;
    CDIBitmap eight;
    ASSERT_TRUE(eight.LoadFromMemory(bmptest::MakeBmp(3, 2, 8, {{1, 2, 3}, {4, 5, 255}}, palette)));
    EXPECT_EQ(eight.BitCount(), 8);
    EXPECT_EQ(eight.ColourTable().size(), 256u);
    EXPECT_EQ(eight.InfoBlockSize(), 40u + 4 * 256);
    ASSERT_NE(eight.Palette(), nullptr);
    EXPECT_EQ(eight.Palette()->Version(), 0x300);
    EXPECT_EQ(eight.Palette()->Entries().size(), 256u);
    EXPECT_EQ(eight.PixelRgb(2, 1), 0xFFFFFFu);
    EXPECT_EQ(eight.PixelRgb(0, 0), 0x010101u);
    // Row stride for 8 bits or fewer: 8-bit rows, padded.
    EXPECT_EQ(eight.Pixels().size(), 4u * 2);

    CDIBitmap fewer;
    ASSERT_TRUE(fewer.LoadFromMemory(
        bmptest::MakeBmp(2, 1, 8, {{0, 1}}, {0x0000FF, 0x00FF00, 0xFF0000}, 3)));
    ASSERT_NE(fewer.Palette(), nullptr);
    EXPECT_EQ(fewer.Palette()->Entries().size(), 3u);
    EXPECT_EQ(fewer.ColourTable().size(), 256u);
    EXPECT_EQ(fewer.Palette()->Entries()[1].Green, 0xFF);
    EXPECT_EQ(fewer.Palette()->Entries()[0].Blue, 0xFF);

    CDIBitmap one;
    ASSERT_TRUE(one.LoadFromMemory(bmptest::MakeBmp(9, 1, 1, {{0xA5, 0x80}}, {0, 0xFFFFFF})));
    EXPECT_EQ(one.BitCount(), 1);
    EXPECT_EQ(one.ColourTable().size(), 2u);
    EXPECT_EQ(one.PixelRgb(0, 0), 0xFFFFFFu);
    EXPECT_EQ(one.PixelRgb(1, 0), 0u);
    EXPECT_EQ(one.PixelRgb(8, 0), 0xFFFFFFu);

    CDIBitmap four;
    ASSERT_TRUE(four.LoadFromMemory(
        bmptest::MakeBmp(3, 1, 4, {{0x1F, 0x20}}, std::vector<std::uint32_t>(16, 0x123456))));
    EXPECT_EQ(four.ColourTable().size(), 16u);
    EXPECT_EQ(four.Palette()->Entries().size(), 16u);
}

TEST(DIBitmap, ThirtyTwoBitSourceIsStoredAsTwentyFour) {
    std::vector<std::uint8_t> row{0x30, 0x20, 0x10, 0x00, 0x01, 0x02, 0x03, 0x00};
    CDIBitmap dib;
    ASSERT_TRUE(dib.LoadFromMemory(bmptest::MakeBmp(2, 1, 32, {row})));
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(dib.Info()->biSizeImage, 8u);  // the source's row size
    EXPECT_EQ(dib.Pixels().size(), 8u);      // one 24-bit row of 6 bytes, padded
    EXPECT_EQ(dib.PixelRgb(0, 0), 0x102030u);
    EXPECT_EQ(dib.PixelRgb(1, 0), 0x030201u);
}

struct RecordingCanvas : DibCanvas {
    int X = 0, Y = 0, Width = 0, Height = 0, SourceWidth = 0;
    void DrawRgb(std::span<const std::uint8_t>, int width, int, int x, int y, int destWidth,
                 int destHeight) override {
        SourceWidth = width;
        X = x;
        Y = y;
        Width = destWidth;
        Height = destHeight;
    }
};

TEST(DIBitmap, FailedLoadLeavesNothingToDraw) {
    CDIBitmap dib;
    ASSERT_TRUE(dib.LoadFromMemory(bmptest::SolidBmp24(4, 4, 0)));
    std::vector<std::uint8_t> junk{'B', 'M', 1, 2, 3};
    EXPECT_FALSE(dib.LoadFromMemory(junk));
    EXPECT_TRUE(dib.Pixels().empty());
    EXPECT_FALSE(dib.LoadFromResource("/nonexistent-skin", 110));
    RecordingCanvas canvas;
    dib.DrawAt(canvas, 5, 6);
    EXPECT_EQ(canvas.Width, 0);
    ASSERT_TRUE(dib.LoadFromMemory(bmptest::SolidBmp24(4, 3, 0)));
    dib.DrawAt(canvas, 5, 6);
    EXPECT_EQ(canvas.X, 5);
    EXPECT_EQ(canvas.Width, 4);
    EXPECT_EQ(canvas.Height, 3);
}

}  // namespace
