#pragma once
// Which folder a launcher patches. In order:
//   1. the folder given with --game-dir (it must exist, or be creatable);
//   2. the current folder, when it is a game folder (a launcher started from its game, or
//      from its desktop entry, whose working folder is the game);
//   3. the program's own folder, when it is a game folder (a game that carries its launcher);
//   4. the player's own folder, $XDG_DATA_HOME/<product>/game (~/.local/share/...), created
//      when missing; a new folder gets the whole game from the patch server.
// A game folder is one that holds config.ini, message.wtf, patch.log or the game client.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/DeploymentSettings.h"

bool IsGameFolder(const std::filesystem::path& folder, const DeploymentSettings& settings);

// $XDG_DATA_HOME/<product>/game, the product name in lower case.
std::filesystem::path PerUserGameFolder(const DeploymentSettings& settings);

struct GameFolderChoice {
    std::filesystem::path Folder;  // absolute
    std::string Reason;            // for the log: "given", "current folder", ...
    bool Created = false;
};

// nullopt with `error` ("cannot create game folder PATH: REASON") when the folder cannot be
// used.
std::optional<GameFolderChoice> ChooseGameFolder(const std::filesystem::path& given,
                                                 const std::filesystem::path& currentFolder,
                                                 const std::filesystem::path& programFolder,
                                                 const DeploymentSettings& settings,
                                                 std::string* error);
