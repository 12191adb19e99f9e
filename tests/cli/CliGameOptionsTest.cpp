// torvane-cli --options: the options dialog's values set from the terminal, refused whole
// when one of them is not a value the dialog could produce.

#include "cli/CliGameOptions.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "cli/CliOptions.h"
#include "platform/FileRegistry.h"
#include "support/TestSupport.h"

namespace {

const std::string kConfig = "SOFTWARE\\Varnok\\KA\\Config";

struct Applied {
    int Status;
    std::string Out;
    std::string Err;
};

Applied Apply(const DeploymentSettings& settings, const std::vector<std::string>& assignments) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Applied applied{ApplyGameOptions(settings, assignments, out, err), {}, {}};
    for (auto [file, text] : {std::pair{out, &applied.Out}, {err, &applied.Err}}) {
        std::rewind(file);
        char buffer[512];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
        std::fclose(file);
    }
    return applied;
}

TEST(CliGameOptionsTest, ValuesAreStoredInTheCodePageAndPrinted) {
    testsupport::TempDir dir;
    DeploymentSettings settings;
    settings.RegistryDirectory = dir / "registry";
    settings.CodePage = "CP949";
    const auto applied = Apply(
        settings, {"ID=\xED\x95\x9C\xEA\xB8\x80", "resolution=3", "WindowMode=1", "SoundOnOff=0"});
    ASSERT_EQ(applied.Status, 0) << applied.Err;
    EXPECT_EQ(applied.Out,
              "ID=\xED\x95\x9C\xEA\xB8\x80\nSoundOnOff=0\nMusicOnOff=1\nResolution=3\n"
              "ColorDepth=0\nWindowMode=1\n");
    FileRegistry registry(settings.RegistryDirectory);
    std::string id;
    ASSERT_EQ(registry.QueryString(RegistryRoot::CurrentUser, kConfig, "ID", &id),
              Registry::Status::Ok);
    EXPECT_EQ(id, "\xC7\xD1\xB1\xDB");  // the CP949 bytes of the two letters
}

TEST(CliGameOptionsTest, AnyBadValueSavesNothing) {
    testsupport::TempDir dir;
    DeploymentSettings settings;
    settings.RegistryDirectory = dir / "registry";
    settings.CodePage = "CP949";
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"WindowMode=1", "Resolution=5"},
          {"WindowMode=1", "ColorDepth=-1"},
          {"WindowMode=1", "ID=elevenchars"},
          {"WindowMode=1", "ID=\xE2\x82\xAC\xE0\xB8\x81"},  // a Thai letter CP949 lacks
          {"WindowMode=1", "Volume=3"},
          {"WindowMode"}}) {
        const auto applied = Apply(settings, bad);
        EXPECT_EQ(applied.Status, 1) << bad.back();
        EXPECT_NE(applied.Err.find("nothing was saved"), std::string::npos) << applied.Err;
        std::uint32_t windowMode = 5;
        FileRegistry(settings.RegistryDirectory)
            .QueryDword(RegistryRoot::CurrentUser, kConfig, "WindowMode", &windowMode);
        EXPECT_EQ(windowMode, 0u) << bad.back();  // the default written on loading, not the 1
    }

    std::string error;
    EXPECT_FALSE(ParseCliOptions({"--options", "ID=x", "--pick", "1", "--start"}, &error));
    EXPECT_FALSE(ParseCliOptions({"--options"}, &error));
    const auto parsed = ParseCliOptions({"--options", "ID=x", "--options", "Resolution=1"}, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->GameOptionValues, (std::vector<std::string>{"ID=x", "Resolution=1"}));
}

}  // namespace
