#pragma once
// torvane-cli --verify and --repair: the installed game against the signed manifest of its
// version. The connect server names the patch server; its signed index and the manifest are
// checked with the deployment's trusted keys; every file the manifest lists is compared by
// size and SHA-256. Each file that is not whole is printed on stdout as "missing: PATH" or
// "damaged: PATH" (what differs goes to stderr). --repair then fetches exactly those files and
// prints "repaired: PATH" for each one put back.
//
// Exit status: 0 when the game is whole (after repairing, with --repair), 1 when it is not or
// could not be checked.

#include <cstdio>
#include <filesystem>

#include "platform/DeploymentSettings.h"

int RunVerify(const DeploymentSettings& settings, const std::filesystem::path& gameDirectory,
              bool repair, std::FILE* out, std::FILE* err);
