// Background layout, button faces and captions, and progress maths.

#include <gtest/gtest.h>

#include <climits>

#include "ui/ButtonFace.h"
#include "ui/ProgressBar.h"
#include "ui/SkinLayout.h"

namespace {

TEST(SkinLayout, DialogStyles) {
    auto blits = DialogSkinBlits(LayoutStyle::ResizeWindow, 580, 380, 580, 380);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].X, 0);
    EXPECT_FALSE(blits[0].Stretch);

    blits = DialogSkinBlits(LayoutStyle::Tile, 250, 100, 100, 60);
    ASSERT_EQ(blits.size(), 6u);  // x 0,100,200 for y 0,60
    EXPECT_EQ(blits[5].X, 200);
    EXPECT_EQ(blits[5].Y, 60);

    blits = DialogSkinBlits(LayoutStyle::Center, 100, 100, 60, 40);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].X, 20);
    EXPECT_EQ(blits[0].Y, 30);

    blits = DialogSkinBlits(LayoutStyle::Stretch, 300, 200, 10, 10);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_TRUE(blits[0].Stretch);
    EXPECT_EQ(blits[0].Width, 300);
}

TEST(SkinLayout, BitmapDialogModes) {
    bool fill = true;
    auto blits = BitmapDialogBlits(BackgroundTile, 385, 486, 385, 486, &fill);
    EXPECT_EQ(blits.size(), 1u);  // client equals picture: drawn once
    EXPECT_FALSE(fill);

    blits = BitmapDialogBlits(BackgroundCenter, 100, 50, 110, 50, &fill);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].X, -5);
    EXPECT_EQ(blits[0].Width, 110);
    EXPECT_TRUE(fill);

    blits = BitmapDialogBlits(BackgroundCenter, 100, 50, 111, 53, &fill);
    EXPECT_EQ(blits[0].X, -5);  // -11 / 2 rounds toward zero
    EXPECT_EQ(blits[0].Y, -1);

    // Unknown modes tile.
    blits = BitmapDialogBlits(7, 200, 100, 100, 100, &fill);
    EXPECT_EQ(blits.size(), 2u);
    EXPECT_TRUE(BitmapDialogBlits(BackgroundTile, 200, 100, 0, 0, &fill).empty());
}

TEST(ButtonFaceChoice, StateOrderAndFallbacks) {
    const LoadedFaces all{true, true, true};
    const LoadedFaces none{};
    EXPECT_EQ(ChooseButtonFace(kItemSelected | kItemFocus, all), ButtonFace::Pressed);
    EXPECT_EQ(ChooseButtonFace(kItemFocus, {true, false, true}), ButtonFace::Normal);
    EXPECT_EQ(ChooseButtonFace(kItemFocus, all), ButtonFace::Focus);
    EXPECT_EQ(ChooseButtonFace(kItemDisabled, none), ButtonFace::Normal);
    EXPECT_EQ(ChooseButtonFace(kItemDisabled, all), ButtonFace::Disabled);
    EXPECT_EQ(ChooseButtonFace(kItemDisabled | kItemFocus, all), ButtonFace::Focus);
    EXPECT_EQ(ChooseButtonFace(kItemSelected | kItemFocus, {false, true, false}),
              ButtonFace::Focus);
    EXPECT_EQ(ChooseButtonFace(0, all), ButtonFace::Normal);
}

TEST(ButtonFaceChoice, CaptionRules) {
    const std::string thirtyOne(31, 'a');
    EXPECT_EQ(ClampCaption(thirtyOne), thirtyOne);
    EXPECT_EQ(ClampCaption(thirtyOne + "bc"), thirtyOne);
    EXPECT_EQ(ClampFontName(std::string(70, 'f')).size(), 63u);
    EXPECT_EQ(CaptionFontWeight(1), 956);
    EXPECT_EQ(CaptionFontWeight(2), 400);
    EXPECT_EQ(CaptionFontWeight(0), 400);
    const CaptionBox box = CaptionRectangle(0, 0, 164, 26);
    EXPECT_EQ(box.Right, 167);
    EXPECT_EQ(CentredTextLeft(box, 60), 53);
}

TEST(Progress, ClampingAndTheMinimalSliver) {
    EXPECT_EQ(ProgressFilledWidth(0, 100, 339), 3);
    EXPECT_EQ(ProgressPercent(0, 100), 1);
    EXPECT_EQ(ProgressPercent(0, 101), 0);
    EXPECT_EQ(ProgressPercent(0, 0), 100);
    EXPECT_EQ(ProgressPercent(1, 3), 33);
    EXPECT_EQ(ProgressFilledWidth(1, 3, 339), 113);
    // Ranges of large files must not overflow the width computation.
    EXPECT_EQ(ProgressFilledWidth(INT_MAX, INT_MAX, 339), 339);
    EXPECT_EQ(ProgressFilledWidth(50'000'000, 100'000'000, 339), 169);
}

TEST(Progress, BarClampsAndInvalidatesOnlyWhenItsPictureChanges) {
    std::vector<WindowRect> invalidated;
    CProgressBar bar;
    EXPECT_FALSE(bar.CreateBar(339, 23, 225, 74, nullptr));
    ASSERT_TRUE(
        bar.CreateBar(339, 23, 225, 74, [&](const WindowRect& r) { invalidated.push_back(r); }));
    bar.SetRange(0);
    EXPECT_EQ(bar.Range(), 1);
    bar.SetRange(-4);
    EXPECT_EQ(bar.Range(), 1);
    bar.SetRange(100);
    bar.SetPosition(150);
    EXPECT_EQ(bar.Position(), 100);
    EXPECT_EQ(bar.FilledWidth(), 339);
    EXPECT_EQ(bar.GetPercent(), 100);
    ASSERT_EQ(invalidated.size(), 1u);
    EXPECT_EQ(invalidated[0].Left, 225);
    EXPECT_EQ(invalidated[0].Top, 74);
    EXPECT_EQ(invalidated[0].Right, 564);
    EXPECT_EQ(invalidated[0].Bottom, 97);
    bar.SetPosition(100);  // same picture: no repaint
    EXPECT_EQ(invalidated.size(), 1u);
    bar.SetPosition(-5);
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(bar.FilledWidth(), 3);
    EXPECT_EQ(invalidated.size(), 2u);
    bar.SetRange(1000);  // position is not re-clamped and nothing repaints yet
    EXPECT_EQ(invalidated.size(), 2u);
    bar.SetPosition(0);  // 0 of 1000 shows no pixel at all: changed
    EXPECT_EQ(bar.FilledWidth(), 0);
    EXPECT_EQ(invalidated.size(), 3u);
    bar.SetPosition(2);  // 2 of 1000 still shows nothing: no repaint
    EXPECT_EQ(invalidated.size(), 3u);
}

}  // namespace
