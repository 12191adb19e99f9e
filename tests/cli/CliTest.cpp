// The terminal launcher's option parsing and printing window.

#include <gtest/gtest.h>

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
