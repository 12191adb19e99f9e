#pragma once
// Starting other programs without waiting for them: the game client (directly, or through
// the deployment's launch command such as a compatibility layer) and web links.
//
// A started program is detached: it is not our child, so the launcher may exit at once and
// leaves no zombie behind. Whether it could be started at all is known before the call
// returns (the exec's outcome comes back through a close-on-exec pipe).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DeploymentSettings.h"

// Results of StartGameClient, numbered as the game's tooling knows them. Anything above
// kStartMaxError means the program was started.
inline constexpr int kStartOutOfResources = 0;
inline constexpr int kStartFileNotFound = 2;
inline constexpr int kStartPathNotFound = 3;
inline constexpr int kStartBadFormat = 11;  // not an executable, or not allowed to run
inline constexpr int kStartMaxError = 32;
inline constexpr int kStartSucceeded = 42;

// Starts `file` (a name in `gameDir`, matched without regard to case; or an absolute path)
// with `parameters` split into arguments the way Windows splits a command
// line, in `gameDir` as working directory. With a launch command the program run is that
// command's words, then the client's path, then the arguments.
int StartGameClient(const std::filesystem::path& gameDir, const std::string& file,
                    const std::string& parameters, const DeploymentSettings& settings);

// Hands `url` to the desktop's opener (xdg-open). Never blocks on the browser; false when the
// opener could not be started or the text is not something to open.
bool OpenWebLink(const std::string& url);

// Command-line splitting as on Windows: blanks separate arguments outside double
// quotes; 2n back-slashes before a quote give n back-slashes and toggle quoting; 2n+1 give n
// and a literal quote; "" inside quotes is a literal quote; other back-slashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
