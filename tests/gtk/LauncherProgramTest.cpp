// The real launcher program under Xvfb against the development connect server: the server
// view it reaches, a server chosen by a click, Escape ignored, the options dialog saving to
// the registry store, a second instance refused, the exit button, and the small close button
// stopping a running patch transfer before it quits.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "XvfbDisplay.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"
#include "text/MessageTableWriter.h"
#include "ui/DIBitmap.h"
#include "ui/MainWindowLayout.h"

namespace {

using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::WriteFile;

const std::filesystem::path kAssets = std::filesystem::path(TORVANE_BINARY_DIR) / "assets";

unsigned PicturePixel(int id, int x, int y) {
    CDIBitmap dib;
    if (!dib.LoadFromResource(kAssets / "skin", id)) return 0xFFFFFFFFu;
    return dib.PixelRgb(x, y);
}

// Window ids of the visible windows titled `title`, via xdotool.
std::vector<std::string> WindowsTitled(const std::string& title) {
    auto result = testsupport::Run(
        {"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"}, {}, 30000);
    std::vector<std::string> ids;
    std::istringstream lines(result.Stdout);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) ids.push_back(line);
    }
    return ids;
}

std::optional<std::pair<int, int>> WindowOrigin(const std::string& id) {
    auto result = testsupport::Run({"xdotool", "getwindowgeometry", id}, {}, 30000);
    const auto at = result.Stdout.find("Position: ");
    if (at == std::string::npos) return std::nullopt;
    int x = 0, y = 0;
    if (std::sscanf(result.Stdout.c_str() + at, "Position: %d,%d", &x, &y) != 2)
        return std::nullopt;
    return std::make_pair(x, y);
}

// Polls (without a fixed wait) until `done` holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

class LauncherProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"torvane", "torvane-connectd"}) {
            if (!std::filesystem::exists(ProgramPath(program)))
                GTEST_SKIP() << program << " is not built";
        }
        if (!std::filesystem::exists(kAssets / "skin" / "140.bmp")) GTEST_SKIP() << "no skin";
        if (!TestDisplayReady()) GTEST_SKIP() << "no Xvfb or GTK display";

        // The program reads torvane.conf beside itself: run a copy from a scratch folder.
        std::filesystem::create_directories(dir_ / "bin");
        std::filesystem::copy_file(ProgramPath("torvane"), dir_ / "bin" / "torvane");
        game_ = dir_ / "game";
        std::filesystem::create_directories(game_);
        WriteFile(game_ / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");
        CMessageTableWriter texts;
        std::ifstream english(testsupport::SourcePath("assets/messages/en.txt"));
        for (std::string line; std::getline(english, line);) {
            const auto tab = line.find('\t');
            if (tab == std::string::npos) continue;
            const int number = std::stoi(line.substr(0, tab));
            texts.Add(number, line.substr(tab + 1));
            if (number == 127) alreadyRunning_ = line.substr(tab + 1);
        }
        WriteFile(game_ / "message.wtf", texts.Serialize());

        title_ = "TorvaneUi" + std::to_string(::getpid());
        port_ = testsupport::FreeLoopbackPort();
        WriteFile(dir_ / "bin" / "torvane.conf",
                  "connect_address = 127.0.0.1\n"
                  "connect_port = " +
                      std::to_string(port_) +
                      "\n"
                      // Nothing listens there (the browser refuses port 1 outright and
                      // would show nothing at all).
                      "news_host = 127.0.0.1:" +
                      std::to_string(testsupport::FreeLoopbackPort()) +
                      "\n"
                      "data_dir = " +
                      kAssets.string() +
                      "\n"
                      "registry_dir = " +
                      (dir_ / "registry").string() +
                      "\n"
                      "desktop_dir = " +
                      (dir_ / "desktop").string() +
                      "\n"
                      "product_name = " +
                      title_ +
                      "\n"
                      "code_page = CP949\n");
    }

    // The development connect server with ten entries (the fifth disabled) and `patch`
    // settings lines ("patch = none" gives the go-ahead at once).
    void StartConnectServer(const std::string& patch) {
        std::string servers = patch;
        for (int i = 0; i < 10; ++i) {
            servers +=
                "server." + std::to_string(i) + ".name = World " + std::to_string(i + 1) + "\n";
            servers +=
                "server." + std::to_string(i) + ".address = 10.0.0." + std::to_string(i + 1) + "\n";
            servers += "server." + std::to_string(i) +
                       ".port = " + std::to_string(i == 4 ? 0 : 55901 + i) + "\n";
        }
        connectd_ = std::make_unique<testsupport::ConnectdServer>(dir_.Path(), servers, port_);
        ASSERT_TRUE(connectd_->Ready()) << connectd_->Failure();
    }

    // Waits for the launcher's main window and notes where it is.
    void FindMainWindow(std::string* window) {
        ASSERT_TRUE(WaitFor([&] {
            auto ids = WindowsTitled(title_);
            if (ids.empty()) return false;
            *window = ids.front();
            return true;
        })) << testsupport::ReadFile(dir_ / "launcher.log");
        ASSERT_TRUE(WaitFor([&] {
            auto origin = WindowOrigin(*window);
            if (origin) origin_ = *origin;
            return origin.has_value();
        }));
    }

    std::unique_ptr<ChildProcess> StartLauncher(const std::string& log,
                                                const std::vector<std::string>& arguments = {}) {
        ChildProcess::Options options;
        options.WorkingDirectory = game_;
        options.ExtraEnvironment = {{"DISPLAY", std::getenv("DISPLAY")},
                                    {"TORVANE_SOUND", "off"},
                                    {"WEBKIT_DISABLE_COMPOSITING_MODE", "1"},
                                    {"XDG_RUNTIME_DIR", (dir_ / "run").string()}};
        if (::geteuid() == 0)
            options.ExtraEnvironment["WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"] = "1";
        std::filesystem::create_directories(dir_ / "run");
        std::filesystem::permissions(dir_ / "run", std::filesystem::perms::owner_all);
        options.StderrFile = dir_ / log;
        std::vector<std::string> argv{(dir_ / "bin" / "torvane").string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(argv, options);
    }

    Glib::RefPtr<Gdk::Pixbuf> Shot() { return GrabScreen(origin_.first, origin_.second, 580, 380); }
    bool ShotShows(int x, int y, unsigned rgb, Glib::RefPtr<Gdk::Pixbuf>* keep = nullptr) {
        auto shot = Shot();
        if (keep) *keep = shot;
        return PixelAt(shot, x, y) == rgb;
    }
    bool Click(int x, int y) {
        return XDoTool({"mousemove", "--sync", std::to_string(origin_.first + x),
                        std::to_string(origin_.second + y), "click", "1"});
    }

    testsupport::TempDir dir_;
    std::filesystem::path game_;
    std::unique_ptr<testsupport::ConnectdServer> connectd_;
    std::string title_;
    int port_ = 0;
    std::pair<int, int> origin_{0, 0};
    std::string alreadyRunning_;  // message 127 of the table the launcher reads
};

TEST_F(LauncherProgramTest, UnknownArgumentsLeaveTheFolderUntouched) {
    const auto before = testsupport::ListTree(game_);
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--help-me"}, {"/x"}, {"/t", "more"}}) {
        auto launcher = StartLauncher("bogus.log", arguments);
        EXPECT_EQ(launcher->Wait(60000), 2) << arguments[0];
        EXPECT_NE(testsupport::ReadFile(dir_ / "bogus.log").find("Try 'torvane --help'"),
                  std::string::npos)
            << testsupport::ReadFile(dir_ / "bogus.log");
        EXPECT_TRUE(WindowsTitled(title_).empty());
    }
    // No Temp folder, no lock, no log, no desktop entry: nothing happened.
    EXPECT_EQ(testsupport::ListTree(game_), before);
    EXPECT_FALSE(std::filesystem::exists(game_ / "Temp"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "desktop"));
}

TEST_F(LauncherProgramTest, RunsFromServerListToOptionsAndRefusesASecondInstance) {
    StartConnectServer("patch = none\n");
    auto launcher = StartLauncher("launcher.log");
    std::string window;
    FindMainWindow(&window);

    // Server view: ten buttons on their grid, the fifth (port 0) showing its disabled face.
    const auto first = skin::ServerButton(0);
    Glib::RefPtr<Gdk::Pixbuf> shot;
    ASSERT_TRUE(WaitFor([&] {
        return ShotShows(first.X + 11, first.Y + 12, PicturePixel(149, 11, 12), &shot);
    })) << testsupport::ReadFile(dir_ / "launcher.log");
    for (int i = 0; i < 10; ++i) {
        const auto spec = skin::ServerButton(i);
        EXPECT_EQ(PixelAt(shot, spec.X + 2, spec.Y + 24), PicturePixel(i == 4 ? 148 : 149, 2, 24))
            << i;
    }
    EXPECT_EQ(PixelAt(shot, 100, 300), PicturePixel(140, 100, 300));

    // The news host refuses connections (no network here): the news view shows the browser's
    // own failure page, a light page with dark text, inside 228,167 336 x 163.
    auto pageText = [&](const Glib::RefPtr<Gdk::Pixbuf>& picture) {
        int dark = 0;
        for (int y = 167 + 4; y < 167 + 163 - 4; ++y)
            for (int x = 228 + 4; x < 228 + 336 - 4; x += 2) {
                const unsigned rgb = PixelAt(picture, x, y);
                const unsigned sum = (rgb >> 16) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF);
                if (sum < 3 * 100) ++dark;
            }
        return dark;
    };
    ASSERT_TRUE(WaitFor([&] {
        shot = Shot();
        if (!shot || PixelAt(shot, 228 + 4, 167 + 4) != 0xFFFFFFu) return false;
        return pageText(shot) > 50;
    })) << "the news view shows no failure page";
    shot->save((ScreenshotDirectory() / "launcher-server-view.png").string(), "png");

    // Escape changes nothing.
    ASSERT_TRUE(XDoTool({"mousemove", "--sync", std::to_string(origin_.first + 100),
                         std::to_string(origin_.second + 100)}));
    ASSERT_TRUE(XDoTool({"key", "Escape"}));

    // A click on the second server: the progress view with Option, Connect and CloseBig.
    const auto second = skin::ServerButton(1);
    ASSERT_TRUE(Click(second.X + 40, second.Y + 12));
    ASSERT_TRUE(
        WaitFor([&] { return ShotShows(343 + 50, 136 + 3, PicturePixel(105, 50, 3), &shot); }));
    EXPECT_EQ(PixelAt(shot, 238 + 50, 136 + 3), PicturePixel(104, 50, 3));
    EXPECT_EQ(PixelAt(shot, 100, 300), PicturePixel(163, 100, 300));
    EXPECT_TRUE(launcher->Running());
    shot->save((ScreenshotDirectory() / "launcher-progress-view.png").string(), "png");

    // Options: pick the fourth resolution, uncheck music, Enter saves.
    ASSERT_TRUE(Click(238 + 50, 136 + 12));
    std::string dialog;
    ASSERT_TRUE(WaitFor([&] {
        auto ids = WindowsTitled("Options");
        if (ids.empty()) return false;
        dialog = ids.front();
        return true;
    }));
    std::pair<int, int> dialogAt{0, 0};
    ASSERT_TRUE(WaitFor([&] {
        auto origin = WindowOrigin(dialog);
        if (origin) dialogAt = *origin;
        return origin.has_value();
    }));
    auto clickDialog = [&](std::array<int, 2> at) {
        return XDoTool({"mousemove", "--sync", std::to_string(dialogAt.first + at[0] + 6),
                        std::to_string(dialogAt.second + at[1] + 6), "click", "1"});
    };
    ASSERT_TRUE(clickDialog(skin::options::kResolutionPositions[3]));
    ASSERT_TRUE(clickDialog(skin::options::kMusicBoxAt));
    ASSERT_TRUE(XDoTool({"key", "Return"}));
    const auto store = dir_ / "registry" / "HKEY_CURRENT_USER.reg";
    ASSERT_TRUE(WaitFor([&] {
        if (!std::filesystem::exists(store)) return false;
        const std::string text = testsupport::ReadFile(store);
        return text.find("\"Resolution\"=dword:00000004") != std::string::npos;
    })) << (std::filesystem::exists(store) ? testsupport::ReadFile(store) : "no store");
    const std::string saved = testsupport::ReadFile(store);
    EXPECT_NE(saved.find("\"MusicOnOff\"=dword:00000000"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"SoundOnOff\"=dword:00000001"), std::string::npos) << saved;

    // A second launcher shows message 127 in a box titled like the launcher and ends.
    auto second_instance = StartLauncher("second.log");
    ASSERT_TRUE(WaitFor([&] { return WindowsTitled(title_).size() >= 2; }));
    for (const auto& id : WindowsTitled(title_)) {
        if (id == window) continue;
        XDoTool({"windowactivate", "--sync", id});
        auto origin = WindowOrigin(id);
        if (origin) {
            XDoTool({"mousemove", "--sync", std::to_string(origin->first + 20),
                     std::to_string(origin->second + 20)});
        }
        XDoTool({"key", "Return"});
    }
    EXPECT_EQ(second_instance->Wait(60000), 0);
    ASSERT_FALSE(alreadyRunning_.empty());
    EXPECT_NE(testsupport::ReadFile(dir_ / "second.log").find(alreadyRunning_), std::string::npos)
        << testsupport::ReadFile(dir_ / "second.log");
    EXPECT_EQ(WindowsTitled(title_).size(), 1u);
    EXPECT_TRUE(launcher->Running());

    // CloseBig back to the server view, then Exit quits.
    ASSERT_TRUE(Click(456 + 50, 136 + 12));
    ASSERT_TRUE(
        WaitFor([&] { return ShotShows(first.X + 11, first.Y + 12, PicturePixel(149, 11, 12)); }));
    ASSERT_TRUE(Click(493 + 30, 337 + 12));
    EXPECT_EQ(launcher->Wait(60000), 0);
}

TEST_F(LauncherProgramTest, PatchesFromAnFtpServerThenShowsTheServers) {
    const auto server = dir_ / "patches";
    WriteFile(server / "version.wvd", "\"1.00.01\"\n\"1.00.02\"\n");
    WriteFile(server / "1.00.01" / "list.inf", "\"a.bmd\"\n1 \"Data\"\n\"b.bmd\"\n");
    WriteFile(server / "1.00.01" / "a.bmd", std::string(200000, 'a'));
    WriteFile(server / "1.00.01" / "b.bmd", std::string(1000, 'b'));
    WriteFile(server / "1.00.02" / "list.inf", "\"a.bmd\"\n");
    WriteFile(server / "1.00.02" / "a.bmd", std::string(300000, 'A'));
    testsupport::PyFtpServer ftp(server);
    if (!ftp.Ready()) GTEST_SKIP() << "pyftpdlib is not available";
    StartConnectServer(ftp.ConnectdPatchLines());
    auto launcher = StartLauncher("launcher.log");
    std::string window;
    FindMainWindow(&window);

    // Patching ends in the server view with the files installed and the version saved.
    const auto first = skin::ServerButton(0);
    Glib::RefPtr<Gdk::Pixbuf> shot;
    ASSERT_TRUE(WaitFor([&] {
        return ShotShows(first.X + 11, first.Y + 12, PicturePixel(149, 11, 12), &shot);
    })) << testsupport::ReadFile(dir_ / "launcher.log");
    EXPECT_EQ(testsupport::ReadFile(game_ / "a.bmd"), std::string(300000, 'A'));
    EXPECT_EQ(testsupport::ReadFile(game_ / "Data" / "b.bmd"), std::string(1000, 'b'));
    EXPECT_NE(testsupport::ReadFile(game_ / "config.ini").find("1.00.02"), std::string::npos);
    EXPECT_EQ(PixelAt(shot, 100, 300), PicturePixel(140, 100, 300));

    ASSERT_TRUE(Click(493 + 30, 337 + 12));
    EXPECT_EQ(launcher->Wait(60000), 0);
}

TEST_F(LauncherProgramTest, CloseDuringATransferStopsItStartResumesAndASecondCloseQuits) {
    const auto server = dir_ / "patches";
    WriteFile(server / "version.wvd", "\"1.00.01\"\n");
    WriteFile(server / "1.00.01" / "list.inf", "\"big.bmd\"\n");
    // At 2000 bytes a second the file takes over a quarter of an hour: the first chunk
    // comes at once (the transfer loop is running), then the sender pauses about 30 s between
    // chunks, inside the client's 60 s stall limit.
    WriteFile(server / "1.00.01" / "big.bmd", std::string(2000000, 'z'));
    testsupport::FtpServerOptions slow;
    slow.SlowBytesPerSecond = 2000;
    testsupport::PyFtpServer ftp(server, slow);
    if (!ftp.Ready()) GTEST_SKIP() << "pyftpdlib is not available";
    StartConnectServer(ftp.ConnectdPatchLines());
    auto launcher = StartLauncher("launcher.log");
    std::string window;
    FindMainWindow(&window);

    // The transfer of big.bmd has begun.
    ASSERT_TRUE(WaitFor([&] { return ftp.RetrievalCount("big.bmd") >= 1; }))
        << testsupport::ReadFile(dir_ / "launcher.log");
    const auto& smallClose = skin::kMainButtons[5];
    ASSERT_EQ(smallClose.Id, 2004);
    ASSERT_TRUE(Click(smallClose.X + 6, smallClose.Y + 6));

    // The stopped session hands back the start button; the window stays in the progress
    // view and nothing of the stopped file is left behind.
    Glib::RefPtr<Gdk::Pixbuf> shot;
    const bool stopped =
        WaitFor([&] { return ShotShows(343 + 50, 136 + 3, PicturePixel(105, 50, 3), &shot); });
    shot->save((ScreenshotDirectory() / "launcher-transfer-stopped.png").string(), "png");
    ASSERT_TRUE(stopped) << "RETR " << ftp.RetrievalCount("big.bmd") << "\n"
                         << testsupport::ReadFile(dir_ / "launcher.log");
    EXPECT_TRUE(launcher->Running());
    EXPECT_EQ(PixelAt(shot, 100, 300), PicturePixel(163, 100, 300));
    EXPECT_FALSE(std::filesystem::exists(game_ / "big.bmd"));
    EXPECT_NE(testsupport::ReadFile(game_ / "config.ini").find("1.00.00"), std::string::npos);
    EXPECT_EQ(ftp.RetrievalCount("big.bmd"), 1);

    // Start connects again: the connect server's answer starts the patch over.
    ASSERT_TRUE(Click(343 + 50, 136 + 12));
    ASSERT_TRUE(WaitFor([&] { return ftp.RetrievalCount("big.bmd") >= 2; }))
        << testsupport::ReadFile(dir_ / "launcher.log");
    ASSERT_TRUE(Click(smallClose.X + 6, smallClose.Y + 6));
    ASSERT_TRUE(
        WaitFor([&] { return ShotShows(343 + 50, 136 + 3, PicturePixel(105, 50, 3), &shot); }));
    EXPECT_FALSE(std::filesystem::exists(game_ / "big.bmd"));

    ASSERT_TRUE(Click(smallClose.X + 6, smallClose.Y + 6));
    EXPECT_EQ(launcher->Wait(60000), 0);
}

}  // namespace
