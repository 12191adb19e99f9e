#pragma once
// What both launchers settle before start-up: the settings file and the game folder.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/GameFolder.h"
#include "app/LauncherArguments.h"
#include "platform/DeploymentSettings.h"
#include "platform/EventLog.h"

struct LauncherStart {
    DeploymentSettings Settings;
    std::vector<std::filesystem::path> SettingsFiles;  // looked for, lowest first
    GameFolderChoice Game;
};

// Settings from every settings file (DeploymentSettingsFiles, --config last); then the game
// folder (GameFolder.h). nullopt with `error` when a given settings file is missing
// or no game folder can be used. --create-shortcut turns the desktop entry on.
std::optional<LauncherStart> PrepareLauncherStart(const LauncherArguments& arguments,
                                                  std::string* error);

// Opens the run's log (--log-file, else the per-user one), shows failures on stderr as
// "<program>: ..." and writes what the run starts with: program, version and arguments, the
// settings file, the game folder and why it was chosen.
std::unique_ptr<EventLog> OpenRunLog(const LauncherArguments& arguments, const LauncherStart& start,
                                     std::string_view program,
                                     const std::vector<std::string>& words);
