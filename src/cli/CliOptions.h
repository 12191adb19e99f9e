#pragma once
// The terminal launcher's command line: the options both launchers share (LauncherArguments.h)
// and its own:
//   --connect HOST[:PORT]  --pick N  --start | --no-start  --timeout SECONDS  --quiet | --verbose
//   --options KEY=VALUE ... (sets the game's options and ends without connecting)
//   --verify | --repair (checks the installed game against its signed manifest and ends)

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/LauncherArguments.h"

inline constexpr int kDefaultCliTimeoutSeconds = 120;

struct CliOptions : LauncherArguments {
    std::optional<std::string> ConnectHost;
    std::optional<std::uint16_t> ConnectPort;
    int Pick = 0;  // 1..10, 0: none
    bool Start = false;
    // --options KEY=VALUE: the game's options to set; the launcher then ends without
    // connecting.
    std::vector<std::string> GameOptionValues;
    // --verify: compare the installed game with its version's signed manifest; --repair: and
    // put back what differs.
    bool Verify = false;
    bool Repair = false;
    // Seconds to try the connect server before giving up (0: for ever).
    int TimeoutSeconds = kDefaultCliTimeoutSeconds;
    int Verbosity = 1;  // 0 --quiet, 1 normal, 2 --verbose
};

// nullopt with `error` set on bad usage.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments,
                                          std::string* error);

extern const char* const kCliUsage;
