// Every program's --help, -h and --version, run as a player or operator would: answered on
// stdout with exit status 0, touching nothing (no folder made, no file written, no display
// needed); and the launchers refusing words they do not know before they act on a folder.

#include <gtest/gtest.h>

#include <regex>

#include "app/LauncherArguments.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ListTree;
using testsupport::ProgramPath;
using testsupport::RunResult;

const char* const kPrograms[] = {"torvane",         "torvane-cli",      "torvane-tool",
                                 "torvane-publish", "torvane-connectd", "torvane-game-stub"};

class ProgramArgumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "cwd");
        std::filesystem::create_directories(dir / "home");
    }
    // Runs `program` in an empty folder with a scratch home and no display.
    RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{ProgramPath(program).string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        testsupport::ChildProcess::Options options;
        options.WorkingDirectory = dir / "cwd";
        const std::string home = (dir / "home").string();
        options.ExtraEnvironment = {{"HOME", home},
                                    {"XDG_DATA_HOME", home + "/data"},
                                    {"XDG_STATE_HOME", home + "/state"},
                                    {"XDG_CONFIG_HOME", home + "/config"},
                                    {"XDG_RUNTIME_DIR", home + "/run"},
                                    {"DISPLAY", ""},
                                    {"WAYLAND_DISPLAY", ""}};
        return testsupport::Run(argv, options, 60000);
    }
    // Nothing written anywhere: the scratch folders hold no file and no new folder.
    bool Untouched() {
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::recursive_directory_iterator(dir.Path()))
            ++entries;
        return entries == 2 && ListTree(dir.Path()).empty();
    }

    testsupport::TempDir dir;
};

TEST_F(ProgramArgumentsTest, HelpAndVersionAnswerOnStdoutAndTouchNothing) {
    int tried = 0;
    for (const char* program : kPrograms) {
        if (!std::filesystem::exists(ProgramPath(program))) continue;
        ++tried;
        for (const char* help : {"--help", "-h"}) {
            const RunResult result = RunProgram(program, {help});
            EXPECT_EQ(result.ExitCode, 0) << program << " " << help << ": " << result.Stderr;
            EXPECT_EQ(result.Stdout.rfind("usage:", 0), 0u) << program << ": " << result.Stdout;
            EXPECT_NE(result.Stdout.find(program), std::string::npos) << program;
            EXPECT_EQ(result.Stderr, "") << program;
            EXPECT_TRUE(Untouched()) << program << " " << help;
        }
        const RunResult version = RunProgram(program, {"--version"});
        EXPECT_EQ(version.ExitCode, 0) << program;
        EXPECT_TRUE(std::regex_match(
            version.Stdout, std::regex(std::string(program) + " [0-9]+\\.[0-9]+\\.[0-9]+\n")))
            << program << ": " << version.Stdout;
        EXPECT_TRUE(Untouched()) << program << " --version";
        // Help also wins when other arguments come with it (they are not acted on).
        const RunResult mixed = RunProgram(program, {"--game-dir", (dir / "g").string(), "-h"});
        EXPECT_EQ(mixed.ExitCode, 0) << program;
        EXPECT_TRUE(Untouched()) << program << " with -h among other words";
    }
    if (tried == 0) GTEST_SKIP() << "no program is built";
}

TEST_F(ProgramArgumentsTest, TerminalLauncherRefusesUnknownWordsBeforeActing) {
    if (!std::filesystem::exists(ProgramPath("torvane-cli"))) GTEST_SKIP() << "no torvane-cli";
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--bogus"},
                                               {"/x"},
                                               {"/t", "extra"},
                                               {"/l", "1.2.3", "more"},
                                               {"--", "--help"},
                                               {"--timeout", "-1"}}) {
        const RunResult result = RunProgram("torvane-cli", arguments);
        EXPECT_EQ(result.ExitCode, 2) << arguments[0] << ": " << result.Stderr;
        EXPECT_NE(result.Stderr.find("torvane-cli --help"), std::string::npos) << result.Stderr;
        EXPECT_EQ(result.Stdout, "");
        EXPECT_TRUE(Untouched()) << arguments[0];
    }
}

TEST(LauncherArgumentsTest, SharedOptionsAndTheDesignSwitches) {
    std::string error;
    auto parsed = ParseLauncherArguments({"--game-dir", "g", "--config", "c.conf", "--log-file",
                                          "l.log", "--create-shortcut", "/l", "1.2.3"},
                                         &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->GameDirectory, "g");
    EXPECT_EQ(parsed->ConfigFile, "c.conf");
    EXPECT_EQ(parsed->LogFile, "l.log");
    EXPECT_TRUE(parsed->CreateShortcut);
    EXPECT_EQ(parsed->LauncherCommandLine, "/l 1.2.3");

    for (const auto& line :
         std::vector<std::vector<std::string>>{{}, {"/t"}, {"/r"}, {"/l"}, {"--", "/t"}, {"--"}}) {
        EXPECT_TRUE(ParseLauncherArguments(line, &error)) << error;
    }
    EXPECT_EQ(ParseLauncherArguments({"--", "/t"}, &error)->LauncherCommandLine, "/t");

    for (const auto& line : std::vector<std::vector<std::string>>{{"--help-me"},
                                                                  {"x"},
                                                                  {"/T"},
                                                                  {"/tt"},
                                                                  {"/r", "/t"},
                                                                  {"--game-dir"},
                                                                  {"--game-dir", ""},
                                                                  {"--log-file"},
                                                                  {"--connect", "h"}}) {
        error.clear();
        EXPECT_FALSE(ParseLauncherArguments(line, &error)) << line[0];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
