#pragma once
// The real implementations behind LauncherServices.

#include <filesystem>

#include "app/LauncherServices.h"
#include "platform/DeploymentSettings.h"
#include "platform/EventLoop.h"

// Fills every empty entry of `services` with the real implementation for this deployment
// and game directory.
LauncherServices CompleteServices(LauncherServices services, const DeploymentSettings& settings,
                                  const std::filesystem::path& gameDirectory, EventLoop& loop);
