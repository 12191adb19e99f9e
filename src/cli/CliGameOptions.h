#pragma once
// torvane-cli --options KEY=VALUE ...: the options dialog without a window. Sets the game
// client's Config values in the deployment's registry store (the Wine prefix of a Windows
// client, or our own files) and prints the six values as stored.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/DeploymentSettings.h"

// Keys: ID (the account name, at most 10 bytes in the code page; given in the terminal's
// UTF-8), SoundOnOff, MusicOnOff, WindowMode (0 or 1), Resolution (1 to 4), ColorDepth (0 or
// 1); names without regard to case. 0 when saved; 1 when a value is refused or the key cannot
// be written (nothing is then saved); the reason goes to `err`.
int ApplyGameOptions(const DeploymentSettings& settings,
                     const std::vector<std::string>& assignments, std::FILE* out, std::FILE* err);
