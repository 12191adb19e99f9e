#pragma once
// The launcher's entry on the user's desktop: "<desktop_dir>/<product>.desktop", starting the
// launcher for the game folder it patched (given on its command line and as its working
// folder). A missing desktop directory is not created.

#include <filesystem>
#include <string>

#include "platform/DeploymentSettings.h"

// Writes the entry atomically. Failures are silent to the user; the result is for logs/tests.
bool CreateDesktopShortcut(const std::filesystem::path& launcherPath,
                           const std::filesystem::path& gameFolder,
                           const DeploymentSettings& settings);

// The entry's text (exposed for tests and tools).
std::string DesktopEntryText(const std::filesystem::path& launcherPath,
                             const std::filesystem::path& gameFolder,
                             const std::string& productName);
