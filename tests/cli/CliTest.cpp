// The terminal launcher's option parsing and printing window.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "cli/CliOptions.h"
#include "cli/CliWindow.h"
#include "platform/PollEventLoop.h"

namespace {

std::optional<CliOptions> Parse(std::vector<std::string> arguments, std::string* error) {
    return ParseCliOptions(arguments, error);
}

TEST(CliOptionsTest, AcceptedForms) {
    std::string error;
    auto options = Parse({"--game-dir", "g", "--connect", "host.example:4000", "--pick", "3",
                          "--start", "/l", "1.2.3"},
                         &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->GameDirectory, "g");
    EXPECT_EQ(options->ConnectHost, "host.example");
    EXPECT_EQ(options->ConnectPort, 4000);
    EXPECT_EQ(options->Pick, 3);
    EXPECT_TRUE(options->Start);
    EXPECT_EQ(options->LauncherCommandLine, "/l 1.2.3");

    options = Parse({"--no-start", "--connect", "10.0.0.1", "--", "/t"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_FALSE(options->Start);
    EXPECT_FALSE(options->ConnectPort);
    EXPECT_EQ(options->LauncherCommandLine, "/t");

    // IPv6: a port only after a bracketed address; a bare address is all host.
    options = Parse({"--connect", "[::1]:4000"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->ConnectHost, "::1");
    EXPECT_EQ(options->ConnectPort, 4000);
    options = Parse({"--connect", "2001:db8::7"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->ConnectHost, "2001:db8::7");
    EXPECT_FALSE(options->ConnectPort);
    options = Parse({"--connect", "[::1]"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->ConnectHost, "::1");

    options = Parse({"--game-dir", "g", "--repair", "--connect", "h:1"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->Repair);
    EXPECT_FALSE(options->Verify);
}

TEST(CliOptionsTest, RejectedForms) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--pick", "0"},
                                               {"--pick", "11"},
                                               {"--pick", "3x"},
                                               {"--start"},
                                               {"--pick", "1", "--start", "--no-start"},
                                               {"--connect", "host:0"},
                                               {"--connect", "host:70000"},
                                               {"--connect", ":44405"},
                                               {"--connect", "[::1"},
                                               {"--connect", "[::1]4000"},
                                               {"--connect", "[]:4000"},
                                               {"--connect", std::string(50, 'h')},
                                               {"--game-dir"},
                                               {"--verify", "--repair"},
                                               {"--verify", "--pick", "1"},
                                               {"--repair", "--options", "ID=a"},
                                               {"--verify", "/t"},
                                               {"-x"}}) {
        std::string error;
        EXPECT_FALSE(Parse(arguments, &error)) << arguments[0];
        EXPECT_FALSE(error.empty());
    }
}

class CliWindowTest : public ::testing::Test {
protected:
    CliWindowTest() : out(std::tmpfile()), err(std::tmpfile()) {}
    ~CliWindowTest() override {
        std::fclose(out);
        std::fclose(err);
    }
    static std::string Contents(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char buffer[256];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        return text;
    }
    PollEventLoop loop;
    std::FILE* out;
    std::FILE* err;
};

TEST_F(CliWindowTest, StatusLinesAreDecodedAndPrintedOncePerChange) {
    CliWindow window(loop, "CP949", out, err, false);
    MainWindowPaintState state;
    state.StatusText = "\xC1\xA2\xBC\xD3";  // "접속" in CP949
    window.Repaint({}, state);
    window.Repaint({}, state);
    state.StatusText = "ready";
    window.Repaint({}, state);
    EXPECT_EQ(Contents(out), "status: \xEC\xA0\x91\xEC\x86\x8D\nstatus: ready\n");

    window.ShowMessageBox("text", "caption", MessageBoxIcon::Stop);
    EXPECT_EQ(Contents(err), "caption: text\n");
}

TEST_F(CliWindowTest, ProgressLinesOnlyInTheProgressView) {
    CliWindow window(loop, "CP949", out, err, false);
    MainWindowPaintState state;
    state.PercentText = {"10%", "50%"};
    window.Repaint({}, state);  // server view: no progress
    state.ProgressVisible = true;
    window.Repaint({}, state);
    state.PercentText = {"100%", "100%"};
    window.Repaint({}, state);  // the end is always shown
    EXPECT_EQ(Contents(out), "progress: 10% 50%\nprogress: 100% 100%\n");
}

// The rate counts from the transfer's own start, also when the window first sees it at its
// end (a transfer shorter than a repaint), and only the bytes this transfer brought.
TEST_F(CliWindowTest, ShortTransfersHaveARateFromTheirOwnStart) {
    CliWindow window(loop, "CP949", out, err, false);
    const auto now = std::chrono::steady_clock::now();
    auto rateOf = [&](const std::string& name, std::uint64_t startDone, std::uint64_t done,
                      std::chrono::milliseconds ago) {
        MainWindowPaintState state;
        state.ProgressVisible = true;
        state.PercentText = {"0%", "100%"};
        state.TransferName = name;
        state.TransferDone = done;
        state.TransferTotal = done;
        state.TransferStartDone = startDone;
        state.TransferStarted = now - ago;
        window.Repaint({}, state);
        const std::string text = Contents(out);
        const auto line = text.rfind("progress: ");
        unsigned long long gotDone = 0, total = 0, rate = 0;
        EXPECT_EQ(std::sscanf(text.c_str() + line, "progress: 0%% 100%% %llu/%llu %llu", &gotDone,
                              &total, &rate),
                  3)
            << text;
        EXPECT_EQ(gotDone, done);
        return rate;
    };
    // Seen once, at the end, 50 ms and 300 ms after the start: bytes over time since then.
    const auto fast = rateOf("a.bmd", 0, 100000, std::chrono::milliseconds(50));
    EXPECT_GT(fast, 0u);
    EXPECT_LE(fast, 100000u * 20);
    const auto slower = rateOf("b.bmd", 0, 100000, std::chrono::milliseconds(300));
    EXPECT_GT(slower, 0u);
    EXPECT_LE(slower, 100000u * 10 / 3 + 1);
    // A resumed transfer: the 900000 bytes kept from an earlier run are not this run's speed.
    const auto resumed = rateOf("up_list.zip", 900000, 1000000, std::chrono::milliseconds(500));
    EXPECT_GT(resumed, 0u);
    EXPECT_LE(resumed, 200000u);
}

TEST_F(CliWindowTest, CloseEndsTheRunOnce) {
    CliWindow window(loop, "CP949", out, err, false);
    bool ran = false;
    loop.Post([&] {
        window.CloseWindow();
        window.CloseWindow();
        ran = true;
    });
    loop.Run();  // returns only because CloseWindow quit it
    EXPECT_TRUE(ran);
}

}  // namespace
