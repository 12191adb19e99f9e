#include "app/GameFolder.h"

#include <cctype>
#include <cstdlib>

#include "platform/GamePath.h"

namespace {

std::filesystem::path DataHome() {
    if (const char* value = std::getenv("XDG_DATA_HOME"); value && *value == '/') return value;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "share";
}

std::string FolderNameFor(const std::string& product) {
    std::string name;
    for (const char c : product) {
        const auto u = static_cast<unsigned char>(c);
        name += std::isalnum(u) || c == '-' || c == '_' || c == '.'
                    ? static_cast<char>(std::tolower(u))
                    : '_';
    }
    if (name.empty() || name.front() == '.') name = "torvane";
    return name;
}

// Makes `folder` (and its parents) if missing; a folder must come out of it.
bool MakeFolder(const std::filesystem::path& folder, bool* created, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return true;
    *created = std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        *error = "cannot create game folder " + folder.string() + ": " +
                 (ec ? ec.message() : std::string("not a folder"));
        return false;
    }
    return true;
}

}  // namespace

bool IsGameFolder(const std::filesystem::path& folder, const DeploymentSettings& settings) {
    const GamePath game(folder);
    for (const std::string& name : {std::string("config.ini"), std::string("message.wtf"),
                                    std::string("patch.log"), settings.GameClient}) {
        const auto path = game.Resolve(name);
        std::error_code ec;
        if (path && std::filesystem::is_regular_file(*path, ec)) return true;
    }
    return false;
}

std::filesystem::path PerUserGameFolder(const DeploymentSettings& settings) {
    return DataHome() / FolderNameFor(settings.ProductName) / "game";
}

std::optional<GameFolderChoice> ChooseGameFolder(const std::filesystem::path& given,
                                                 const std::filesystem::path& currentFolder,
                                                 const std::filesystem::path& programFolder,
                                                 const DeploymentSettings& settings,
                                                 std::string* error) {
    GameFolderChoice choice;
    std::error_code ec;
    if (!given.empty()) {
        choice.Folder = std::filesystem::absolute(given, ec);
        choice.Reason = "given";
        if (ec) {
            *error = "bad game folder " + given.string() + ": " + ec.message();
            return std::nullopt;
        }
        if (std::filesystem::exists(choice.Folder, ec) &&
            !std::filesystem::is_directory(choice.Folder, ec)) {
            *error = "game folder " + choice.Folder.string() + " is not a folder";
            return std::nullopt;
        }
    } else if (IsGameFolder(currentFolder, settings)) {
        choice.Folder = currentFolder;
        choice.Reason = "current folder";
    } else if (!programFolder.empty() && IsGameFolder(programFolder, settings)) {
        choice.Folder = programFolder;
        choice.Reason = "program's folder";
    } else {
        choice.Folder = PerUserGameFolder(settings);
        choice.Reason = "per-user folder";
    }
    if (!MakeFolder(choice.Folder, &choice.Created, error)) return std::nullopt;
    auto canonical = std::filesystem::canonical(choice.Folder, ec);
    if (ec) {
        *error = "cannot use game folder " + choice.Folder.string() + ": " + ec.message();
        return std::nullopt;
    }
    choice.Folder = std::move(canonical);
    return choice;
}
