#include "options/GameOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileRegistry.h"
#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteFile;
using Status = Registry::Status;

namespace {

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;

struct Fixture {
    TempDir dir;
    FileRegistry registry{dir / "registry"};
    std::vector<std::string> boxes;
    MessageBoxFunction Recorder() {
        return [this](const std::string& text, const std::string& caption, MessageBoxIcon) {
            boxes.push_back(caption + ": " + text);
        };
    }
    std::uint32_t Dword(const char* name) {
        std::uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(registry.QueryDword(kUser, kGameConfigKey, name, &value), Status::Ok) << name;
        return value;
    }
    std::string Text(const char* name) {
        std::string value = "<absent>";
        registry.QueryString(kUser, kGameConfigKey, name, &value);
        return value;
    }
};

}  // namespace

TEST(GameOptionsTest, FirstRunCreatesTheDefaultsAndShowsThem) {
    Fixture f;
    GameOptions options(f.registry, f.Recorder());
    EXPECT_TRUE(f.boxes.empty());
    EXPECT_EQ(f.Text("ID"), "");
    EXPECT_EQ(f.Dword("SoundOnOff"), 1u);
    EXPECT_EQ(f.Dword("MusicOnOff"), 1u);
    EXPECT_EQ(f.Dword("Resolution"), 2u);
    EXPECT_EQ(f.Dword("ColorDepth"), 0u);
    EXPECT_EQ(f.Dword("WindowMode"), 0u);

    EXPECT_EQ(options.SelectedResolution(), 2);
    EXPECT_EQ(options.SelectedColorDepth(), 0);
    EXPECT_TRUE(options.SoundChecked());
    EXPECT_TRUE(options.MusicChecked());
    EXPECT_FALSE(options.WindowModeChecked());
    EXPECT_EQ(options.IdText(), "");
}

TEST(GameOptionsTest, OutOfRangeValuesShowNothingAndSaveAsDefaultsOrBoxStates) {
    Fixture f;
    f.registry.SetDword(kUser, kGameConfigKey, "Resolution", 7);
    f.registry.SetDword(kUser, kGameConfigKey, "ColorDepth", 5);
    f.registry.SetDword(kUser, kGameConfigKey, "SoundOnOff", 7);
    f.registry.SetDword(kUser, kGameConfigKey, "MusicOnOff", 0xFFFFFFFFu);
    f.registry.SetDword(kUser, kGameConfigKey, "WindowMode", 2);
    f.registry.SetString(kUser, kGameConfigKey, "ID", "player");

    GameOptions options(f.registry, f.Recorder());
    // Loading keeps the stored numbers as they are.
    EXPECT_EQ(options.Settings().Resolution, 7);
    EXPECT_EQ(options.Settings().MusicOnOff, -1);
    EXPECT_EQ(f.Dword("Resolution"), 7u);
    EXPECT_EQ(options.SelectedResolution(), 0);
    EXPECT_EQ(options.SelectedColorDepth(), -1);
    EXPECT_FALSE(options.SoundChecked());
    EXPECT_FALSE(options.MusicChecked());
    EXPECT_FALSE(options.WindowModeChecked());
    EXPECT_EQ(options.IdText(), "player");

    ASSERT_EQ(options.SaveSettings(), GameOptions::SaveResult::Saved);
    EXPECT_EQ(f.Dword("Resolution"), 2u);
    EXPECT_EQ(f.Dword("ColorDepth"), 0u);
    EXPECT_EQ(f.Dword("SoundOnOff"), 0u);
    EXPECT_EQ(f.Dword("MusicOnOff"), 0u);
    EXPECT_EQ(f.Dword("WindowMode"), 0u);
    EXPECT_EQ(f.Text("ID"), "player");
}

TEST(GameOptionsTest, ResolutionZeroLoadsAsFirstChoiceAndMissingValuesAreFilledIn) {
    Fixture f;
    f.registry.SetDword(kUser, kGameConfigKey, "Resolution", 0);
    f.registry.SetString(kUser, kGameConfigKey, "SoundOnOff", "wrong type");
    f.registry.SetString(kUser, kGameConfigKey, "ID", std::string(64, 'x'));  // too long
    GameOptions options(f.registry, f.Recorder());
    EXPECT_EQ(options.SelectedResolution(), 1);
    EXPECT_EQ(f.Dword("Resolution"), 0u);  // only in memory
    EXPECT_EQ(f.Dword("SoundOnOff"), 1u);
    EXPECT_EQ(f.Text("ID"), "");
    EXPECT_EQ(f.Dword("MusicOnOff"), 1u);

    f.registry.SetString(kUser, kGameConfigKey, "ID", std::string(63, 'y'));  // fits the buffer
    GameOptions again(f.registry, f.Recorder());
    EXPECT_EQ(again.IdText(), std::string(63, 'y'));
}

TEST(GameOptionsTest, PlayerInputIsWrittenOnlyBySave) {
    Fixture f;
    {
        GameOptions options(f.registry, f.Recorder());
        options.SetIdText("abcdefghijKLMN");
        options.SetSoundChecked(false);
        options.SetWindowModeChecked(true);
        options.ChooseResolution(4);
        options.ChooseResolution(9);  // not a button: ignored
        options.ChooseColorDepth(1);
        EXPECT_EQ(options.IdText(), "abcdefghij");
        // Ten bytes, but never half of a double-byte character.
        options.SetIdText("a\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1", "CP949");
        EXPECT_EQ(options.IdText(), "a\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1");
        options.SetIdText("ab\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1", "CP949");
        EXPECT_EQ(options.IdText(), "ab\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1");
        options.SetIdText("abcdefghij", "CP949");
        EXPECT_EQ(options.SelectedResolution(), 4);
        // Nothing reaches the store before Save (a cancelled dialog just goes away).
        EXPECT_EQ(f.Dword("SoundOnOff"), 1u);
        EXPECT_EQ(f.Dword("Resolution"), 2u);
        EXPECT_EQ(f.Text("ID"), "");

        ASSERT_EQ(options.SaveSettings(), GameOptions::SaveResult::Saved);
    }
    EXPECT_EQ(f.Text("ID"), "abcdefghij");
    EXPECT_EQ(f.Dword("SoundOnOff"), 0u);
    EXPECT_EQ(f.Dword("MusicOnOff"), 1u);
    EXPECT_EQ(f.Dword("Resolution"), 4u);
    EXPECT_EQ(f.Dword("ColorDepth"), 1u);
    EXPECT_EQ(f.Dword("WindowMode"), 1u);

    GameOptions reopened(f.registry, f.Recorder());
    EXPECT_TRUE(reopened.WindowModeChecked());
    EXPECT_EQ(reopened.SelectedColorDepth(), 1);
}

TEST(GameOptionsTest, DamagedStoreShowsTheFailureKeepsDefaultsAndWritesNothing) {
    Fixture f;
    WriteFile(f.registry.FileFor(kUser), "garbage\n");
    GameOptions options(f.registry, f.Recorder());
    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(options.SelectedResolution(), 2);
    EXPECT_TRUE(options.SoundChecked());

    options.ChooseResolution(3);
    EXPECT_EQ(options.SaveSettings(), GameOptions::SaveResult::KeyFailed);
    EXPECT_EQ(f.boxes.size(), 2u);
    EXPECT_EQ(testsupport::ReadFile(f.registry.FileFor(kUser)), "garbage\n");
}

TEST(GameOptionsTest, WindowModeSyncAtStartUp) {
    Fixture f;
    EXPECT_EQ(SyncWindowModeSetting(f.registry), 0);  // new key: written as 0
    EXPECT_EQ(f.Dword("WindowMode"), 0u);
    f.registry.SetDword(kUser, kGameConfigKey, "WindowMode", 1);
    EXPECT_EQ(SyncWindowModeSetting(f.registry), 1);
    EXPECT_EQ(f.Dword("WindowMode"), 1u);
    f.registry.DeleteValue(kUser, kGameConfigKey, "WindowMode");
    EXPECT_EQ(SyncWindowModeSetting(f.registry), 0);
    EXPECT_EQ(f.Dword("WindowMode"), 0u);

    WriteFile(f.registry.FileFor(kUser), "garbage\n");
    EXPECT_EQ(SyncWindowModeSetting(f.registry), 0);
}

namespace {

// The ID box keeps what fits in ten code-page bytes, in whole characters: what the player sees
// is what Save keeps.
TEST(GameOptionsTest, IdBoxTextFitsTenCodePageBytes) {
    EXPECT_EQ(GameOptions::FitIdBoxText("abcdefghij", "CP949"), "abcdefghij");
    EXPECT_EQ(GameOptions::FitIdBoxText("abcdefghijk", "CP949"), "abcdefghij");
    // Six syllables are twelve bytes in CP949: five stay.
    EXPECT_EQ(GameOptions::FitIdBoxText("가나다라마바", "CP949"), "가나다라마");
    // Never half of one: "a" and four syllables are nine bytes, a fifth would make eleven.
    EXPECT_EQ(GameOptions::FitIdBoxText("a가나다라마", "CP949"), "a가나다라");
    // In a single-byte code page every character is one byte.
    EXPECT_EQ(GameOptions::FitIdBoxText("äöüäöüäöüäöü", "CP1252"), "äöüäöüäöüä");
}

}  // namespace
