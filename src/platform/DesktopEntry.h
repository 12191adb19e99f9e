#pragma once
// The launcher's entry on the user's desktop, rewritten at every start so that it follows
// the launcher when the game directory moves: "<desktop_dir>/<product>.desktop", starting the
// launcher in its own directory. A missing desktop directory is not created.

#include <filesystem>
#include <string>

#include "platform/DeploymentSettings.h"

// Writes the entry atomically. Failures are silent to the user; the result is for logs/tests.
bool CreateDesktopShortcut(const std::filesystem::path& launcherPath,
                           const DeploymentSettings& settings);

// The entry's text (exposed for tests and tools).
std::string DesktopEntryText(const std::filesystem::path& launcherPath,
                             const std::string& productName);
