#include "app/LauncherStart.h"

#include <cstdio>
#include <cstdlib>

#include "platform/ProgramInfo.h"

std::optional<LauncherStart> PrepareLauncherStart(const LauncherArguments& arguments,
                                                  std::string* error) {
    LauncherStart start;
    const std::filesystem::path programFolder = ProgramDirectory();
    if (!arguments.ConfigFile.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(arguments.ConfigFile, ec)) {
            *error = "no settings file " + arguments.ConfigFile.string();
            return std::nullopt;
        }
    }
    start.SettingsFiles = DeploymentSettingsFiles(programFolder, arguments.ConfigFile);
    start.Settings =
        LoadDeploymentSettingsFiles(start.SettingsFiles, DefaultDeploymentSettings(programFolder));
    if (arguments.CreateShortcut) start.Settings.DesktopEntry = true;

    std::error_code ec;
    const std::filesystem::path current = std::filesystem::current_path(ec);
    auto game =
        ChooseGameFolder(arguments.GameDirectory, current, programFolder, start.Settings, error);
    if (!game) return std::nullopt;
    start.Game = std::move(*game);
    return start;
}

std::unique_ptr<EventLog> OpenRunLog(const LauncherArguments& arguments, const LauncherStart& start,
                                     std::string_view program,
                                     const std::vector<std::string>& words) {
    auto log = std::make_unique<EventLog>(arguments.LogFile.empty() ? EventLog::DefaultFile()
                                                                    : arguments.LogFile);
    log->ShowFailuresOn(stderr, std::string(program));
    if (!log->Problem().empty())
        std::fprintf(stderr, "%s: %s\n", std::string(program).c_str(), log->Problem().c_str());
    std::string line = "start " + VersionLine(program);
    for (const auto& word : words) line += " " + word;
    log->Write(line);
    std::error_code ec;
    bool anySettings = false;
    for (const auto& file : start.SettingsFiles) {
        if (!std::filesystem::is_regular_file(file, ec)) continue;
        log->Write("settings file " + file.string());
        anySettings = true;
    }
    if (!anySettings) log->Write("no settings file: built-in defaults");
    for (const auto& warning : start.Settings.Warnings) log->Write("settings: " + warning);
    log->Write("game folder " + start.Game.Folder.string() + " (" + start.Game.Reason +
               (start.Game.Created ? ", created" : "") + ")");
    return log;
}
