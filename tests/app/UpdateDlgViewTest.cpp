// The main window controller's screen states, driven through a recording window.

#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "app/LauncherState.h"
#include "app/UpdateDlg.h"
#include "platform/FileRegistry.h"

namespace {

constexpr int kBottom[] = {2020, 2021, 2022, 2023, 2028};
constexpr int kChosen[] = {2000, 2001, 2010};

class UpdateDlgViewTest : public ::testing::Test, public ControllerFixture {
protected:
    void FillServers() {
        for (int i = 0; i < kServerEntryCount; ++i) {
            const std::string name = "Server" + std::to_string(i + 1);
            SetServerEntry(i, name.c_str(), "10.0.0.1", i == 4 ? 0 : 55900 + i);
        }
    }
    void ExpectProgressView() {
        EXPECT_EQ(Window.Background, 163);
        for (int id : kBottom) EXPECT_FALSE(Window.IsVisible(id)) << id;
        for (int i = 0; i < kServerEntryCount; ++i) EXPECT_FALSE(Window.IsVisible(6501 + i));
        EXPECT_EQ(Window.Browser, (std::vector<int>{225, 176, 338, 184}));
        EXPECT_EQ(g_State.ProgressVisible, 1);
        EXPECT_TRUE(Window.LastPaint.ProgressVisible);
    }
    void ExpectServerView() {
        EXPECT_EQ(Window.Background, 140);
        for (int id : kBottom) EXPECT_TRUE(Window.IsVisible(id)) << id;
        for (int id : kChosen) EXPECT_FALSE(Window.IsVisible(id)) << id;
        for (int i = 0; i < kServerEntryCount; ++i) EXPECT_TRUE(Window.IsVisible(6501 + i));
        EXPECT_EQ(Window.Browser, (std::vector<int>{228, 167, 336, 163}));
        EXPECT_EQ(g_State.ProgressVisible, 0);
        EXPECT_FALSE(Window.LastPaint.ProgressVisible);
    }
};

TEST_F(UpdateDlgViewTest, InitialisationShowsConnectingProgressView) {
    Environment.Settings.NewsHost = "news.example";
    CUpdateDlg& dialog = InitialisedDialog();

    ExpectProgressView();
    EXPECT_TRUE(Window.IsVisible(2004));
    for (int id : kChosen) EXPECT_FALSE(Window.IsVisible(id)) << id;
    EXPECT_FALSE(Window.IsEnabled(2001));
    EXPECT_EQ(Window.Navigations, (std::vector<std::string>{"http://news.example/gg.htm"}));
    // No server chosen yet and no name: the product name in the title brackets (CP949).
    EXPECT_EQ(Window.LastPaint.TitleText, "\xA1\xBAQuenmar\xA1\xBB");
    EXPECT_EQ(Window.LastPaint.StatusText, "T102");
    EXPECT_EQ(dialog.Connected(), 0);
    EXPECT_EQ(ConnectAttempts.load(), 1);
}

TEST_F(UpdateDlgViewTest, InitialisationPreparesFilesAndWindowModeSetting) {
    std::filesystem::path leftover = Environment.GameDirectory / "Torvane.tmp";
    testsupport::WriteFile(leftover, "x");
    InitialisedDialog();
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::is_directory(Environment.GameDirectory / "Temp"));

    FileRegistry registry(Environment.Settings.RegistryDirectory);
    std::uint32_t mode = 7;
    ASSERT_EQ(registry.QueryDword(RegistryRoot::CurrentUser, "SOFTWARE\\Varnok\\KA\\Config",
                                  "WindowMode", &mode),
              Registry::Status::Ok);
    EXPECT_EQ(mode, 0u);
}

TEST_F(UpdateDlgViewTest, ExistingWindowModeIsKeptAndNotRewritten) {
    FileRegistry registry(Environment.Settings.RegistryDirectory);
    ASSERT_EQ(registry.SetDword(RegistryRoot::CurrentUser, "SOFTWARE\\Varnok\\KA\\Config",
                                "WindowMode", 1),
              Registry::Status::Ok);
    CUpdateDlg& dialog = InitialisedDialog();
    EXPECT_EQ(dialog.WindowMode(), 1u);
    std::uint32_t mode = 0;
    registry.QueryDword(RegistryRoot::CurrentUser, "SOFTWARE\\Varnok\\KA\\Config", "WindowMode",
                        &mode);
    EXPECT_EQ(mode, 1u);
}

TEST_F(UpdateDlgViewTest, GoAheadShowsServerViewWithPortZeroDisabled) {
    FillServers();
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.OnConnectReady();

    ExpectServerView();
    EXPECT_EQ(Window.LastPaint.StatusText, "T126");
    EXPECT_EQ(dialog.Connected(), 1);
    EXPECT_EQ(dialog.ConnectRequest(), 0);
    EXPECT_EQ(dialog.ReadyToStart(), 1);
    EXPECT_EQ(g_State.ServerListReceived.load(), 1);
    EXPECT_EQ(Window.Captions[6501], "Server1");
    EXPECT_EQ(Window.Captions[6510], "Server10");
    EXPECT_EQ(Window.CaptionFont, (std::vector<int>{6, 12, 0}));
    for (int i = 0; i < kServerEntryCount; ++i) EXPECT_EQ(Window.IsEnabled(6501 + i), i != 4) << i;
}

TEST_F(UpdateDlgViewTest, FullLengthServerNameStaysWithinItsField) {
    // 32 name bytes with no terminator, followed by the address field.
    ServerEntry& entry = g_State.ServerEntries[0];
    std::memset(entry.Name, 'N', sizeof(entry.Name));
    std::memcpy(entry.Address, "10.1.1.1", 8);
    entry.Port = 1;
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.OnConnectReady();
    EXPECT_EQ(Window.Captions[6501], std::string(32, 'N'));
    dialog.OnCommand(6501);
    EXPECT_EQ(Window.LastPaint.TitleText, "\xA1\xBA" + std::string(32, 'N') + "\xA1\xBB");
}

TEST_F(UpdateDlgViewTest, ChoosingAServerAndGoingBack) {
    FillServers();
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.OnConnectReady();
    const std::size_t soundsBefore = Window.Sounds.size();

    dialog.OnCommand(6503);
    EXPECT_EQ(g_State.SelectedServer, 2);
    ExpectProgressView();
    EXPECT_EQ(Window.LastPaint.TitleText, "\xA1\xBAServer3\xA1\xBB");
    for (int id : kChosen) {
        EXPECT_TRUE(Window.IsVisible(id)) << id;
        EXPECT_TRUE(Window.IsEnabled(id)) << id;
    }
    EXPECT_EQ(Window.Sounds.size(), soundsBefore + 1);
    EXPECT_EQ(Window.Sounds.back(), "data\\sound\\beep.wav");

    dialog.OnCommand(2010);  // CloseBig
    ExpectServerView();
}

TEST_F(UpdateDlgViewTest, ServerWithPortZeroOnlyRecordsTheSelection) {
    FillServers();
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.OnConnectReady();
    const std::size_t sounds = Window.Sounds.size();
    dialog.OnCommand(6505);
    EXPECT_EQ(g_State.SelectedServer, 4);
    ExpectServerView();
    EXPECT_EQ(Window.Sounds.size(), sounds);
}

TEST_F(UpdateDlgViewTest, LinkButtonsOpenTheirTexts) {
    CUpdateDlg& dialog = InitialisedDialog();
    for (int id : {2021, 2020, 2023, 2022}) dialog.OnCommand(id);
    EXPECT_EQ(Window.Links, (std::vector<std::string>{"T2001", "T2000", "T2003", "T2000"}));
}

TEST_F(UpdateDlgViewTest, OptionButtonRunsTheOptionsDialog) {
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.OnCommand(2000);
    EXPECT_EQ(Window.OptionsRuns, 1);
}

TEST_F(UpdateDlgViewTest, EscapeIsSwallowedAndNothingElse) {
    CUpdateDlg& dialog = InitialisedDialog();
    EXPECT_TRUE(dialog.PreTranslateKeyDown(27));
    EXPECT_FALSE(dialog.PreTranslateKeyDown(13));
    EXPECT_EQ(Window.Closes, 0);
}

TEST_F(UpdateDlgViewTest, PercentTexts) {
    CUpdateDlg& dialog = InitialisedDialog();
    // Position and range both 0 count as 1: a full bar.
    dialog.UpdateProgressText();
    EXPECT_EQ(Window.LastPaint.PercentText[0], "100%");
    EXPECT_EQ(Window.LastPaint.PercentText[1], "100%");

    dialog.SetBarRange(PatchBar::Total, 400);
    dialog.SetBarPosition(PatchBar::Total, 399);
    dialog.SetBarRange(PatchBar::File, 3);
    dialog.SetBarPosition(PatchBar::File, 1);
    dialog.UpdateProgressText();
    EXPECT_EQ(Window.LastPaint.PercentText[0], "99%");
    EXPECT_EQ(Window.LastPaint.PercentText[1], "33%");

    // Byte counts of large files must not overflow.
    dialog.SetBarRange(PatchBar::File, 2000000000);
    dialog.SetBarPosition(PatchBar::File, 1999999999);
    EXPECT_EQ(dialog.GetBarPercent(PatchBar::File), 99);

    dialog.OnConnectReady();
    EXPECT_EQ(Window.LastPaint.PercentText[0], "");
    dialog.UpdateProgressText();
    EXPECT_EQ(Window.LastPaint.PercentText[0], "");
    EXPECT_EQ(Window.LastPaint.PercentText[1], "");
}

// During a transfer the percent texts follow the bars at every repaint, not only when a patch
// begins: "100%" must never stand beside a bar at 12%.
TEST_F(UpdateDlgViewTest, PercentTextsFollowTheBarsAtEveryRepaint) {
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.SetBarRange(PatchBar::Total, 4);
    dialog.SetBarRange(PatchBar::File, 100);
    dialog.SetBarPosition(PatchBar::File, 100);
    dialog.UpdateProgressText();
    EXPECT_EQ(Window.LastPaint.PercentText[1], "100%");
    dialog.SetBarPosition(PatchBar::Total, 1);
    dialog.SetBarPosition(PatchBar::File, 12);
    dialog.RefreshWindow();
    EXPECT_EQ(Window.LastPaint.PercentText[0], "25%");
    EXPECT_EQ(Window.LastPaint.PercentText[1], "12%");
}

TEST_F(UpdateDlgViewTest, RepaintAreasOfTheTextOperations) {
    CUpdateDlg& dialog = InitialisedDialog();
    Window.RepaintAreas.clear();
    dialog.SetStatusText("a");
    dialog.SetTitleText("b");
    dialog.UpdateProgressText();
    ASSERT_EQ(Window.RepaintAreas.size(), 3u);
    auto same = [](const WindowRect& r, int l, int t, int rr, int b) {
        return r.Left == l && r.Top == t && r.Right == rr && r.Bottom == b;
    };
    EXPECT_TRUE(same(Window.RepaintAreas[0], 226, 47, 563, 68));
    EXPECT_TRUE(same(Window.RepaintAreas[1], 383, 19, 563, 40));
    EXPECT_TRUE(same(Window.RepaintAreas[2], 226, 71, 563, 124));
}

}  // namespace
