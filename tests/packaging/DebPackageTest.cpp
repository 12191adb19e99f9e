// The Debian package: built with cpack from this build tree, checked with lintian, inspected
// with dpkg-deb, and installed with dpkg into a scratch root (a dpkg database of its own), where
// the conffiles, manual pages, completion, metainfo, menu entry and programs must all work.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

namespace {

class DebPackage : public testing::Test {
protected:
    // CTest runs every test in a process of its own, and cpack takes most of a minute: the
    // package is made once into the build tree and made again only when something it holds
    // (a program, generated data, a packaging source) is newer. A lock keeps parallel test
    // processes from making it at the same time.
    static void SetUpTestSuite() {
        const fs::path binary(TORVANE_BINARY_DIR);
        if (!fs::exists(binary / "CPackConfig.cmake")) return;
        available_ = true;
        const fs::path out = binary / "packaging-test";
        fs::create_directories(out);
        const int lock = ::open((out / ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        ::flock(lock, LOCK_EX);
        deb_ = NewestDeb(out);
        if (deb_.empty() || fs::last_write_time(deb_) < NewestInput(binary)) {
            if (!deb_.empty()) fs::remove(deb_);
            auto run =
                testsupport::Run({"cpack", "--config", (binary / "CPackConfig.cmake").string(),
                                  "-G", "DEB", "-B", out.string()});
            cpackLog_ = run.Stdout + run.Stderr;
            fs::remove_all(out / "_CPack_Packages");
            deb_ = NewestDeb(out);
        }
        ::close(lock);
    }
    void SetUp() override {
        if (!available_) GTEST_SKIP() << "no CPackConfig.cmake in the build tree";
        ASSERT_FALSE(deb_.empty()) << cpackLog_;
    }

    static fs::path NewestDeb(const fs::path& dir) {
        fs::path found;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() == ".deb") found = entry.path();
        }
        return found;
    }
    static fs::file_time_type NewestInput(const fs::path& binary) {
        fs::file_time_type newest = fs::last_write_time(binary / "CPackConfig.cmake");
        for (const fs::path& dir : {binary / "bin", binary / "assets", binary / "packaging",
                                    fs::path(TORVANE_SOURCE_DIR) / "packaging"}) {
            if (!fs::exists(dir)) continue;
            for (const auto& entry : fs::recursive_directory_iterator(dir)) {
                newest = std::max(newest, entry.last_write_time());
            }
        }
        return newest;
    }

    // A root with an empty dpkg database; dpkg runs no maintainer scripts (the package has none).
    static testsupport::RunResult Dpkg(const fs::path& root, std::vector<std::string> args) {
        std::vector<std::string> argv{"dpkg",
                                      "--root=" + root.string(),
                                      "--log=/dev/null",
                                      "--force-depends",
                                      "--force-not-root",
                                      "--force-script-chrootless"};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::Run(argv);
    }
    static void MakeDpkgRoot(const fs::path& root) {
        fs::create_directories(root / "var/lib/dpkg/info");
        fs::create_directories(root / "var/lib/dpkg/updates");
        testsupport::WriteFile(root / "var/lib/dpkg/status", "");
    }

    static std::string DebField(const std::string& field) {
        return testsupport::Run({"dpkg-deb", "-f", deb_.string(), field}).Stdout;
    }

    static inline bool available_ = false;
    static inline fs::path deb_;
    static inline std::string cpackLog_;
};

bool WindowLauncherBuilt() {
    return fs::exists(testsupport::ProgramPath("torvane"));
}

// What only a package with the window launcher holds.
void CheckMenuEntryAndMetainfo(const fs::path& root) {
    const fs::path metainfo = root / "usr/share/metainfo/org.torvane.Torvane.metainfo.xml";
    EXPECT_TRUE(fs::exists(metainfo));
    if (fs::exists("/usr/bin/appstreamcli")) {
        auto valid = testsupport::Run({"appstreamcli", "validate", "--no-net", metainfo.string()});
        EXPECT_EQ(valid.ExitCode, 0) << valid.Stdout << valid.Stderr;
    }

    // The menu entry names an icon the package installs in the hicolor sizes.
    const std::string desktop =
        testsupport::ReadFile(root / "usr/share/applications/torvane.desktop");
    EXPECT_THAT(desktop, HasSubstr("\nIcon=torvane\n"));
    for (const char* size : {"16x16", "32x32", "48x48", "256x256"}) {
        EXPECT_TRUE(fs::exists(root / "usr/share/icons/hicolor" / size / "apps/torvane.png"))
            << size;
    }
}

// Started as the menu entry starts it (no working folder given, so the player's home, which
// holds no game), the installed launcher makes and uses the player's own game folder: no
// folder has to be made by the operator. The terminal launcher stands in for the window one
// (same choice of folder); a closed connect port ends it with its own exit status.
void CheckMenuStartUsesThePlayersOwnFolder(const fs::path& root) {
    testsupport::TempDir home;
    testsupport::ChildProcess::Options options;
    options.WorkingDirectory = home.Path();
    options.ExtraEnvironment = {{"HOME", home.Path().string()},
                                {"XDG_DATA_HOME", (home / "data").string()},
                                {"XDG_STATE_HOME", (home / "state").string()},
                                {"XDG_CONFIG_HOME", (home / "config").string()}};
    const int closedPort = testsupport::FreeLoopbackPort();
    auto run = testsupport::Run({(root / "usr/bin/torvane-cli").string(), "--connect",
                                 "127.0.0.1:" + std::to_string(closedPort), "--timeout", "1"},
                                options, 60000);
    EXPECT_EQ(run.ExitCode, 3) << run.Stderr;
    EXPECT_TRUE(fs::is_directory(home / "data/torvane/game")) << run.Stderr;
    EXPECT_THAT(testsupport::ReadFile(home / "state/torvane/torvane.log"),
                HasSubstr("game folder " + (home / "data/torvane/game").string() +
                          " (per-user folder, created)"));
}

}  // namespace

TEST_F(DebPackage, PassesLintianAndNamesAMaintainer) {
    if (!fs::exists("/usr/bin/lintian")) GTEST_SKIP() << "lintian is not installed";
    // No tag is allowed here; the one the package cannot avoid is overridden inside it,
    // with its reason (packaging/lintian-overrides).
    auto lintian = testsupport::Run({"lintian", "--fail-on", "error,warning", deb_.string()});
    EXPECT_EQ(lintian.ExitCode, 0) << lintian.Stdout << lintian.Stderr;
    EXPECT_THAT(lintian.Stdout, Not(HasSubstr("E: "))) << lintian.Stdout;
    EXPECT_THAT(lintian.Stdout, Not(HasSubstr("W: "))) << lintian.Stdout;

    EXPECT_EQ(DebField("Section"), "net\n");
    EXPECT_THAT(DebField("Maintainer"), Not(HasSubstr("localhost")));
    EXPECT_THAT(DebField("Maintainer"), testing::MatchesRegex(".+ <[^@ ]+@[^@ ]+\\.[a-z]+>\n"));
}

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
    for (const char* path : {"./usr/bin/torvane-publish", "./usr/share/doc/torvane/deploying.md"})
        EXPECT_THAT(contents, HasSubstr(path));
    // The menu entry comes with the window launcher, and only with it.
    EXPECT_EQ(contents.find("./usr/share/applications/torvane.desktop") != std::string::npos,
              WindowLauncherBuilt());
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
    if (WindowLauncherBuilt()) {
        EXPECT_THAT(desktop, HasSubstr("[Desktop Entry]"));
        EXPECT_THAT(desktop, HasSubstr("Exec=torvane"));
        // No shared game folder: the launcher, started in the player's home, picks the
        // player's own folder.
        EXPECT_THAT(desktop, Not(HasSubstr("\nPath=")));
    }
    if (WindowLauncherBuilt() && fs::exists("/usr/bin/desktop-file-validate")) {
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

TEST_F(DebPackage, KeepsEditedSettingsOnUpgradeAndRemovesThemOnPurge) {
    testsupport::TempDir root;
    MakeDpkgRoot(root.Path());
    auto install = Dpkg(root.Path(), {"-i", deb_.string()});
    ASSERT_EQ(install.ExitCode, 0) << install.Stdout << install.Stderr;
    const std::string conffiles =
        testsupport::Run({"dpkg-query", "--admindir=" + (root / "var/lib/dpkg").string(), "-W",
                          "-f=${Conffiles}", "torvane"})
            .Stdout;
    EXPECT_THAT(conffiles, HasSubstr("/etc/torvane/torvane.conf "));
    EXPECT_THAT(conffiles, HasSubstr("/etc/torvane/connectd.conf "));

    const fs::path settings = root / "etc/torvane/torvane.conf";
    testsupport::WriteFile(settings, "connect_address = connect.example.net\n");
    auto again = Dpkg(root.Path(), {"--force-confold", "-i", deb_.string()});
    ASSERT_EQ(again.ExitCode, 0) << again.Stdout << again.Stderr;
    EXPECT_EQ(testsupport::ReadFile(settings), "connect_address = connect.example.net\n");

    auto remove = Dpkg(root.Path(), {"--remove", "torvane"});
    ASSERT_EQ(remove.ExitCode, 0) << remove.Stderr;
    EXPECT_FALSE(fs::exists(root / "usr/bin/torvane-publish"));
    EXPECT_TRUE(fs::exists(settings)) << "removing keeps the settings";
    auto purge = Dpkg(root.Path(), {"--purge", "torvane"});
    ASSERT_EQ(purge.ExitCode, 0) << purge.Stderr;
    EXPECT_FALSE(fs::exists(settings)) << "purging removes them";
}

TEST_F(DebPackage, InstalledPagesCompletionMetainfoAndMenuEntryWork) {
    testsupport::TempDir root;
    MakeDpkgRoot(root.Path());
    auto install = Dpkg(root.Path(), {"-i", deb_.string()});
    ASSERT_EQ(install.ExitCode, 0) << install.Stdout << install.Stderr;

    for (const char* program : {"torvane", "torvane-cli", "torvane-publish", "torvane-tool",
                                "torvane-connectd", "torvane-game-stub"}) {
        SCOPED_TRACE(program);
        if (!fs::exists(testsupport::ProgramPath(program))) continue;
        const fs::path page = root / "usr/share/man/man1" / (std::string(program) + ".1.gz");
        ASSERT_TRUE(fs::exists(page));
        if (fs::exists("/usr/bin/man")) {
            auto shown = testsupport::Run(
                {"bash", "-c", "set -o pipefail; man --warnings -l -Tutf8 \"$1\" | col -bx", "bash",
                 page.string()});
            EXPECT_EQ(shown.ExitCode, 0) << shown.Stderr;
            EXPECT_THAT(shown.Stdout, HasSubstr("NAME\n       " + std::string(program) + " "));
            EXPECT_EQ(shown.Stderr, "") << "troff warnings in the page";
        }
        const fs::path completion =
            root / "usr/share/bash-completion/completions" / std::string(program);
        ASSERT_TRUE(fs::exists(completion));
        auto complete = testsupport::Run({"bash", "-c", "source \"$1\" && complete -p \"$2\"",
                                          "bash", completion.string(), program});
        EXPECT_EQ(complete.ExitCode, 0) << complete.Stderr;
        EXPECT_THAT(complete.Stdout, HasSubstr(std::string(" ") + program + "\n"));
    }

    if (WindowLauncherBuilt()) CheckMenuEntryAndMetainfo(root.Path());
    CheckMenuStartUsesThePlayersOwnFolder(root.Path());

    // The service runs unprivileged, with the file system read-only to it.
    const std::string unit =
        testsupport::ReadFile(root / "lib/systemd/system/torvane-connectd.service");
    EXPECT_THAT(unit, HasSubstr("\nDynamicUser=yes\n"));
    EXPECT_THAT(unit, HasSubstr("\nProtectSystem=strict\n"));
    EXPECT_THAT(
        unit, HasSubstr("ExecStart=/usr/bin/torvane-connectd --config /etc/torvane/connectd.conf"));
    EXPECT_THAT(unit, HasSubstr("\nExecReload=/bin/kill -HUP $MAINPID\n"));

    // The packaged connect-server settings are usable as they stand: it starts, then stops.
    testsupport::TempDir logs;
    testsupport::ChildProcess::Options options;
    options.StdoutFile = logs / "stdout";
    options.StderrFile = logs / "stderr";
    testsupport::ChildProcess connectd(
        {(root / "usr/bin/torvane-connectd").string(), "--config",
         (root / "etc/torvane/connectd.conf").string(), "--port", "0"},
        options);
    for (int i = 0; i < 2000 && testsupport::ReadFile(logs / "stdout").empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_THAT(testsupport::ReadFile(logs / "stdout"), HasSubstr("listening "))
        << testsupport::ReadFile(logs / "stderr");
    connectd.Signal(SIGTERM);
    EXPECT_EQ(connectd.Wait(20000), 0) << testsupport::ReadFile(logs / "stderr");
    if (fs::exists("/usr/bin/systemd-analyze")) {
        // Verified as the host would load it, with the program and page of the scratch root.
        testsupport::TempDir units;
        std::string text = unit;
        const std::string program = "/usr/bin/torvane-connectd";
        text.replace(text.find(program), program.size(),
                     (root / "usr/bin/torvane-connectd").string());
        testsupport::WriteFile(units / "torvane-connectd.service", text);
        testsupport::ChildProcess::Options env;
        env.ExtraEnvironment["MANPATH"] = (root / "usr/share/man").string();
        auto verify = testsupport::Run(
            {"systemd-analyze", "verify", (units / "torvane-connectd.service").string()}, env);
        EXPECT_THAT(verify.Stdout + verify.Stderr, Not(HasSubstr("torvane-connectd.service:")))
            << verify.Stdout << verify.Stderr;
    }
}
