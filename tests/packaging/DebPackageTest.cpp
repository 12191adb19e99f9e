// The Debian package: built with cpack from this build tree, inspected with dpkg-deb and
// unpacked into a scratch root, where the installed programs must run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testing::HasSubstr;

namespace {

class DebPackage : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!fs::exists(fs::path(TORVANE_BINARY_DIR) / "CPackConfig.cmake")) return;
        work_ = new testsupport::TempDir();
        auto run = testsupport::Run({"cpack", "--config",
                                     std::string(TORVANE_BINARY_DIR) + "/CPackConfig.cmake", "-G",
                                     "DEB", "-B", (work_->Path() / "out").string()});
        cpackLog_ = run.Stdout + run.Stderr;
        for (const auto& entry : fs::directory_iterator(work_->Path() / "out")) {
            if (entry.path().extension() == ".deb") deb_ = entry.path();
        }
    }
    static void TearDownTestSuite() {
        delete work_;
        work_ = nullptr;
    }
    void SetUp() override {
        if (!work_) GTEST_SKIP() << "no CPackConfig.cmake in the build tree";
        ASSERT_FALSE(deb_.empty()) << cpackLog_;
    }

    static std::string DebField(const std::string& field) {
        return testsupport::Run({"dpkg-deb", "-f", deb_.string(), field}).Stdout;
    }

    static inline testsupport::TempDir* work_ = nullptr;
    static inline fs::path deb_;
    static inline std::string cpackLog_;
};

}  // namespace

TEST_F(DebPackage, NamesItsLibraryDependencies) {
    EXPECT_EQ(DebField("Package"), "torvane\n");
    const std::string depends = DebField("Depends");
    // Worked out from the installed programs: the libraries they link.
    for (const char* library : {"libc6", "libstdc++6", "libbz2", "zlib1g", "libzip4"})
        EXPECT_THAT(depends, HasSubstr(library)) << depends;
    if (fs::exists(testsupport::ProgramPath("torvane-cli"))) {
        EXPECT_THAT(depends, HasSubstr("libcurl")) << depends;
    }
    if (fs::exists(testsupport::ProgramPath("torvane"))) {
        EXPECT_THAT(depends, HasSubstr("libgtkmm-3.0")) << depends;
        EXPECT_THAT(depends, HasSubstr("libwebkit2gtk-4.1")) << depends;
    }
}

TEST_F(DebPackage, LaysOutProgramsDataAndDesktopEntry) {
    const std::string contents = testsupport::Run({"dpkg-deb", "-c", deb_.string()}).Stdout;
    for (const char* path :
         {"./usr/bin/torvane-publish", "./usr/share/applications/torvane.desktop",
          "./usr/share/doc/torvane/deploying.md"})
        EXPECT_THAT(contents, HasSubstr(path));
    for (const char* program : {"torvane", "torvane-cli", "torvane-tool", "torvane-connectd"}) {
        if (fs::exists(testsupport::ProgramPath(program))) {
            EXPECT_THAT(contents, HasSubstr(std::string("./usr/bin/") + program + "\n"));
        }
    }
    const fs::path assets = fs::path(TORVANE_BINARY_DIR) / "assets";
    if (fs::exists(assets / "message.wtf")) {
        EXPECT_THAT(contents, HasSubstr("./usr/share/torvane/message.wtf"));
    }
    if (fs::exists(assets / "data/sound/beep.wav")) {
        EXPECT_THAT(contents, HasSubstr("./usr/share/torvane/data/sound/beep.wav"));
    }
    if (fs::exists(assets / "skin")) {
        EXPECT_THAT(contents, HasSubstr("./usr/share/torvane/skin/140.bmp"));
    }
}

TEST_F(DebPackage, InstallsIntoAScratchRootAndRuns) {
    testsupport::TempDir root;
    auto unpack = testsupport::Run({"dpkg", "-x", deb_.string(), root.Path().string()});
    ASSERT_EQ(unpack.ExitCode, 0) << unpack.Stderr;

    const std::string desktop =
        testsupport::ReadFile(root / "usr/share/applications/torvane.desktop");
    EXPECT_THAT(desktop, HasSubstr("[Desktop Entry]"));
    EXPECT_THAT(desktop, HasSubstr("Exec=torvane"));
    EXPECT_THAT(desktop, HasSubstr("Path=/"));  // never the player's home as game directory
    if (fs::exists("/usr/bin/desktop-file-validate")) {
        auto valid = testsupport::Run(
            {"desktop-file-validate", (root / "usr/share/applications/torvane.desktop").string()});
        EXPECT_EQ(valid.ExitCode, 0) << valid.Stdout << valid.Stderr;
    }

    // The installed publisher works from its new place: a first version, then its check.
    testsupport::TempDir scratch;
    testsupport::WriteFile(scratch / "tree/Data/a.bmd", "a");
    const std::string publish = (root / "usr/bin/torvane-publish").string();
    auto add = testsupport::Run({publish, "add", (scratch / "repo").string(), "--label", "1.0.1",
                                 "--to", (scratch / "tree").string(), "--packed"});
    EXPECT_EQ(add.ExitCode, 0) << add.Stderr;
    auto check = testsupport::Run({publish, "check", (scratch / "repo").string()});
    EXPECT_EQ(check.ExitCode, 0) << check.Stdout;
}
