// The skinned window base: sizing to the picture only when asked, and the colour key.

#include <gtest/gtest.h>

#include "XvfbDisplay.h"
#include "gtk/DialogSK.h"
#include "ui/MainWindowLayout.h"

namespace {

const std::filesystem::path kSkin = std::filesystem::path(TORVANE_BINARY_DIR) / "assets" / "skin";

class TestDialog : public CDialogSK {
public:
    explicit TestDialog(SkinPictures& pictures) : CDialogSK(pictures) {}
    std::pair<int, int> ClientRequest() {
        int w = 0, h = 0;
        Client().get_size_request(w, h);
        return {w, h};
    }
};

TEST(DialogSK, TakesThePictureSizeOnlyWhenTheLayoutIsSetAfterThePicture) {
    if (!TestDisplayReady()) GTEST_SKIP() << "no Xvfb or GTK display";
    if (!std::filesystem::exists(kSkin / "140.bmp")) GTEST_SKIP() << "skin not generated";
    SkinPictures pictures(kSkin);
    TestDialog dialog(pictures);
    dialog.SetBackgroundLayout(LayoutStyle::ResizeWindow);  // no picture yet: nothing happens
    EXPECT_EQ(dialog.ClientRequest(), std::make_pair(-1, -1));
    ASSERT_TRUE(dialog.SetBackgroundBitmap(skin::kServerViewBackground));
    EXPECT_EQ(dialog.ClientRequest(), std::make_pair(-1, -1));  // setting it does not resize
    EXPECT_EQ(dialog.BitmapWidth(), 580);
    dialog.SetBackgroundLayout(LayoutStyle::ResizeWindow);
    EXPECT_EQ(dialog.ClientRequest(), std::make_pair(580, 380));

    // A missing picture leaves the window without one; a null one removes it.
    EXPECT_TRUE(dialog.SetBackgroundBitmap(99999));
    EXPECT_EQ(dialog.BitmapWidth(), 0);
}

TEST(DialogSK, ColourKeyCutsTheKeyedPixelsAndCanBeTurnedOff) {
    if (!TestDisplayReady()) GTEST_SKIP() << "no Xvfb or GTK display";
    if (!std::filesystem::exists(kSkin / "140.bmp")) GTEST_SKIP() << "skin not generated";
    SkinPictures pictures(kSkin);
    auto picture = pictures.Get(skin::kServerViewBackground);
    ASSERT_TRUE(picture);
    const auto opaque = OpaqueRegion(picture, skin::kColourKey);
    // The default skin cuts its corners and nothing else.
    EXPECT_FALSE(opaque->contains_point(0, 0));
    EXPECT_FALSE(opaque->contains_point(579, 379));
    EXPECT_TRUE(opaque->contains_point(290, 190));
    EXPECT_TRUE(opaque->contains_point(0, 190));
    const auto extents = opaque->get_extents();
    EXPECT_EQ(extents.width, 580);
    EXPECT_EQ(extents.height, 380);

    TestDialog dialog(pictures);
    dialog.SetBackgroundBitmap(picture);
    dialog.SetBackgroundLayout(LayoutStyle::ResizeWindow);
    EXPECT_TRUE(dialog.SetColorKey(skin::kColourKey, true));
    dialog.show();
    ASSERT_TRUE(PumpUntil([&] { return dialog.get_mapped(); }));
    EXPECT_TRUE(dialog.SetColorKey(skin::kColourKey, false));
    dialog.hide();
}

}  // namespace
