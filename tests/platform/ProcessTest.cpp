#include "platform/Process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The started program runs on its own; wait (generously) for the file it leaves behind.
std::string WaitForFile(const std::filesystem::path& file) {
    for (int i = 0; i < 3000; ++i) {
        const std::filesystem::path done = file.string() + ".done";
        if (std::filesystem::exists(done)) return ReadFile(file);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "<timed out>";
}

// A script that records its arguments (one per line), working directory and parent.
void WriteRecorder(const std::filesystem::path& file, mode_t mode) {
    WriteFile(file,
              "#!/bin/sh\n"
              "out=\"$(dirname \"$0\")/out.txt\"\n"
              "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$out\"\n"
              "pwd >> \"$out\"\n"
              "echo \"ppid=$PPID\" >> \"$out\"\n"
              "touch \"$out.done\"\n");
    ::chmod(file.c_str(), mode);
}

}  // namespace

TEST(ProcessTest, SplitsCommandLinesLikeTheOriginalPlatform) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("connect /yabc /z1234 "), (V{"connect", "/yabc", "/z1234"}));
    EXPECT_EQ(SplitCommandLine("  a\t\tb  "), (V{"a", "b"}));
    EXPECT_EQ(SplitCommandLine("\"a b\" c"), (V{"a b", "c"}));
    EXPECT_EQ(SplitCommandLine("a\\\\\\\"b"), (V{"a\\\"b"}));     // a\\\"b  -> a\"b
    EXPECT_EQ(SplitCommandLine("\"a\\\\\" b"), (V{"a\\", "b"}));  // "a\\" b -> a\ and b
    EXPECT_EQ(SplitCommandLine("a\\b\\\\c"), (V{"a\\b\\\\c"}));   // no quote: literal
    EXPECT_EQ(SplitCommandLine("\"say \"\"hi\"\"\""), (V{"say \"hi\""}));
    EXPECT_EQ(SplitCommandLine("x\"\"y \"\""), (V{"xy", ""}));
    EXPECT_EQ(SplitCommandLine("\"open"), (V{"open"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(ProcessTest, StartsTheClientDetachedInTheGameDirectory) {
    TempDir dir;
    WriteRecorder(dir / "Game.sh", 0755);
    DeploymentSettings settings;
    const int result = StartGameClient(dir.Path(), "GAME.SH", "connect /y\"a b\" /z12 ", settings);
    ASSERT_GT(result, kStartMaxError);
    const std::string out = WaitForFile(dir / "out.txt");
    EXPECT_EQ(
        out.substr(0, out.find("ppid=")),
        "[connect]\n[/ya b]\n[/z12]\n" + std::filesystem::canonical(dir.Path()).string() + "\n");
    // Not our child: the launcher may exit without waiting for it.
    EXPECT_EQ(out.find("ppid=" + std::to_string(::getpid()) + "\n"), std::string::npos) << out;
}

TEST(ProcessTest, RunsThroughTheLaunchCommand) {
    TempDir dir;
    WriteRecorder(dir / "game.exe", 0644);  // not executable itself: the command runs it
    DeploymentSettings settings;
    settings.LaunchCommand = "sh -e";
    ASSERT_GT(StartGameClient(dir.Path(), "game.exe", "connect /yX ", settings), kStartMaxError);
    const std::string out = WaitForFile(dir / "out.txt");
    EXPECT_EQ(out.rfind("[connect]\n[/yX]\n/", 0), 0u) << out;

    settings.LaunchCommand = "no-such-compat-layer-xyz";
    EXPECT_EQ(StartGameClient(dir.Path(), "game.exe", "", settings), kStartFileNotFound);
}

TEST(ProcessTest, FailuresMapOntoTheResultCodes) {
    TempDir dir;
    DeploymentSettings settings;
    EXPECT_EQ(StartGameClient(dir.Path(), "absent.exe", "", settings), kStartFileNotFound);
    EXPECT_EQ(StartGameClient(dir.Path(), "Bin\\absent.exe", "", settings), kStartPathNotFound);
    EXPECT_EQ(StartGameClient(dir.Path(), "..\\escape.exe", "", settings), kStartFileNotFound);

    WriteFile(dir / "plain.exe", "MZ not for this machine");
    EXPECT_EQ(StartGameClient(dir.Path(), "plain.exe", "", settings), kStartBadFormat);
    ::chmod((dir / "plain.exe").c_str(), 0755);
    EXPECT_EQ(StartGameClient(dir.Path(), "plain.exe", "", settings), kStartBadFormat);
    std::filesystem::create_directories(dir / "folder");
    EXPECT_EQ(StartGameClient(dir.Path(), "folder", "", settings), kStartBadFormat);
}

TEST(ProcessTest, WebLinksRefuseWhatIsNotALink) {
    EXPECT_FALSE(OpenWebLink(""));
    EXPECT_FALSE(OpenWebLink("--help"));
    EXPECT_FALSE(OpenWebLink("http://a/\nb"));
}
