#pragma once
// The arguments both launchers (window and terminal) share:
//   --game-dir DIR      the game folder to patch (see GameFolder.h for the default)
//   --config FILE       the deployment settings file
//   --log-file FILE     the run's log instead of $XDG_STATE_HOME/torvane/torvane.log
//   --create-shortcut   write the desktop entry even when the deployment does not ask for it
//   [--] /t | /r | /l [VERSION]   the launcher's own switches; only one, nothing after it
// An argument that is none of these is refused: a launcher never acts on words it does not
// understand (a mistyped option must not patch the folder it was typed in).

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct LauncherArguments {
    std::filesystem::path GameDirectory;  // empty: not given
    std::filesystem::path ConfigFile;     // empty: not given
    std::filesystem::path LogFile;        // empty: the per-user log
    bool CreateShortcut = false;
    std::string LauncherCommandLine;  // the switch and its version, joined by a blank
};

enum class ArgumentMatch { NotMine, Taken, Bad };

// Looks at arguments[i]: Taken (i moved past what was used; a switch uses the rest), NotMine
// (the caller's own option, or unknown), or Bad with `error` set.
ArgumentMatch TakeLauncherArgument(const std::vector<std::string>& arguments, std::size_t& i,
                                   LauncherArguments& out, std::string* error);

// The window launcher's whole command line (after the toolkit took its own options).
std::optional<LauncherArguments> ParseLauncherArguments(const std::vector<std::string>& arguments,
                                                        std::string* error);

extern const char* const kLauncherUsage;
