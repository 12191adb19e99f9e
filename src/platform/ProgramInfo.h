#pragma once
// What every Torvane program answers about itself: --help/-h prints its usage on stdout and
// --version one line ("torvane-cli 0.1.0"); both exit 0 and do nothing else. They are looked
// for before any other argument is read, so that a request for help never acts on a folder.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The release of this build ("0.1.0").
const char* ProductVersion();

// "<program> <version>".
std::string VersionLine(std::string_view program);

// When `arguments` (without the program name) hold --help, -h or --version before any "--",
// prints the answer on stdout and returns the exit status 0; otherwise nullopt. Help wins when
// both are asked for.
std::optional<int> AnswerHelpOrVersion(const std::vector<std::string>& arguments,
                                       std::string_view program, std::string_view usage);
