// The default skin generated at build time: every picture the windows use, at its size.

#include <gtest/gtest.h>

#include <filesystem>

#include "ui/DIBitmap.h"
#include "ui/MainWindowLayout.h"

namespace {

const std::filesystem::path kSkin = std::filesystem::path(TORVANE_BINARY_DIR) / "assets" / "skin";

struct Expected {
    int Id;
    int Width;
    int Height;
};

TEST(DefaultSkin, EveryPictureExistsAtItsSize) {
    if (!std::filesystem::exists(kSkin)) GTEST_SKIP() << "skin not generated (no python3)";
    const Expected sizes[] = {{140, 580, 380}, {163, 580, 380}, {110, 385, 486}, {162, 339, 23},
                              {149, 164, 26},  {148, 164, 26},  {144, 16, 15},   {145, 16, 15},
                              {112, 74, 22},   {111, 74, 22},   {137, 74, 22},   {138, 74, 22}};
    for (const auto& e : sizes) {
        CDIBitmap dib;
        ASSERT_TRUE(dib.LoadFromResource(kSkin, e.Id)) << e.Id;
        EXPECT_EQ(dib.Width(), e.Width) << e.Id;
        EXPECT_EQ(dib.Height(), e.Height) << e.Id;
        EXPECT_EQ(dib.BitCount(), 24) << e.Id;
    }
    for (const auto& spec : skin::kMainButtons) {
        for (int id : {spec.Normal, spec.Pressed, spec.Focus, spec.Disabled}) {
            CDIBitmap dib;
            EXPECT_TRUE(dib.LoadFromResource(kSkin, id)) << id;
        }
    }
}

TEST(DefaultSkin, OnlyTheCornersOfTheMainPicturesAreCutAway) {
    if (!std::filesystem::exists(kSkin)) GTEST_SKIP() << "skin not generated (no python3)";
    for (int id : {skin::kServerViewBackground, skin::kProgressViewBackground}) {
        CDIBitmap dib;
        ASSERT_TRUE(dib.LoadFromResource(kSkin, id));
        EXPECT_EQ(dib.PixelRgb(0, 0), skin::kColourKey) << id;
        EXPECT_EQ(dib.PixelRgb(579, 379), skin::kColourKey) << id;
        int keyed = 0;
        for (int y = 20; y < 360; ++y) {
            for (int x = 20; x < 560; ++x) keyed += dib.PixelRgb(x, y) == skin::kColourKey;
        }
        EXPECT_EQ(keyed, 0) << id;
    }
}

}  // namespace
