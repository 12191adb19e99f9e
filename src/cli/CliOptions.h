#pragma once
// The terminal launcher's command line:
//   torvane-cli [--game-dir DIR] [--config FILE] [--connect HOST[:PORT]] [--pick N]
//               [--start | --no-start] [--] [/t | /r | /l VERSION]
//   torvane-cli [--config FILE] --options KEY=VALUE [--options KEY=VALUE ...]
//   torvane-cli [--game-dir DIR] [--config FILE] [--connect HOST[:PORT]] --verify | --repair

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct CliOptions {
    std::filesystem::path GameDirectory;  // empty: the current directory
    std::filesystem::path ConfigFile;     // read after every other settings file
    std::optional<std::string> ConnectHost;
    std::optional<std::uint16_t> ConnectPort;
    int Pick = 0;  // 1..10, 0: none
    bool Start = false;
    std::string LauncherCommandLine;  // the launcher's own switches, joined by blanks
    // --options KEY=VALUE: the game's options to set; the launcher then ends without
    // connecting.
    std::vector<std::string> GameOptionValues;
    // --verify: compare the installed game with its version's signed manifest; --repair: and
    // put back what differs.
    bool Verify = false;
    bool Repair = false;
};

// nullopt with `error` set on bad usage.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments,
                                          std::string* error);

extern const char* const kCliUsage;
