#include "cli/CliOptions.h"

#include <charconv>

const char* const kCliUsage =
    "usage: torvane-cli [--game-dir DIR] [--config FILE] [--connect HOST[:PORT]] [--pick N]\n"
    "                   [--start | --no-start] [--] [/t | /r | /l VERSION]\n"
    "       torvane-cli [--config FILE] --options KEY=VALUE [--options KEY=VALUE ...]\n"
    "                   (ID, SoundOnOff, MusicOnOff, Resolution, ColorDepth, WindowMode)\n"
    "       torvane-cli [--game-dir DIR] [--config FILE] [--connect HOST[:PORT]]\n"
    "                   --verify | --repair\n";

namespace {

std::optional<long> Number(const std::string& text) {
    long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

// HOST, HOST:PORT, or for IPv6 [ADDRESS]:PORT, [ADDRESS] or a bare ADDRESS (no port).
bool ParseConnect(const std::string& text, CliOptions& options, std::string* error) {
    std::string host = text;
    std::optional<std::string> port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
            *error = "bad IPv6 address in --connect (write [ADDRESS]:PORT): " + text;
            return false;
        }
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) port = text.substr(close + 2);
    } else if (text.find(':') == text.rfind(':')) {
        const auto colon = text.rfind(':');
        if (colon != std::string::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
        }
    }
    if (port) {
        const auto number = Number(*port);
        if (!number || *number < 1 || *number > 65535) {
            *error = "bad port in --connect: " + text;
            return false;
        }
        options.ConnectPort = static_cast<std::uint16_t>(*number);
    }
    if (host.empty() || host.size() > 49) {
        *error = "--connect needs a host of 1 to 49 characters";
        return false;
    }
    options.ConnectHost = host;
    return true;
}

}  // namespace

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments,
                                          std::string* error) {
    CliOptions options;
    std::vector<std::string> launcherSwitches;
    bool startSeen = false;
    bool noStartSeen = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= arguments.size()) {
                *error = std::string(name) + " needs a value";
                return nullptr;
            }
            return &arguments[++i];
        };
        if (argument == "--") {
            launcherSwitches.assign(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
            break;
        }
        if (!argument.empty() && argument[0] == '/') {
            launcherSwitches.assign(arguments.begin() + static_cast<long>(i), arguments.end());
            break;
        }
        if (argument == "--game-dir") {
            const std::string* v = value("--game-dir");
            if (!v) return std::nullopt;
            options.GameDirectory = *v;
        } else if (argument == "--config") {
            const std::string* v = value("--config");
            if (!v) return std::nullopt;
            options.ConfigFile = *v;
        } else if (argument == "--connect") {
            const std::string* v = value("--connect");
            if (!v || !ParseConnect(*v, options, error)) return std::nullopt;
        } else if (argument == "--pick") {
            const std::string* v = value("--pick");
            if (!v) return std::nullopt;
            const auto n = Number(*v);
            if (!n || *n < 1 || *n > 10) {
                *error = "--pick needs a server number from 1 to 10";
                return std::nullopt;
            }
            options.Pick = static_cast<int>(*n);
        } else if (argument == "--options") {
            const std::string* v = value("--options");
            if (!v) return std::nullopt;
            options.GameOptionValues.push_back(*v);
        } else if (argument == "--verify") {
            options.Verify = true;
        } else if (argument == "--repair") {
            options.Repair = true;
        } else if (argument == "--start") {
            startSeen = true;
        } else if (argument == "--no-start") {
            noStartSeen = true;
        } else {
            *error = "unknown argument: " + argument;
            return std::nullopt;
        }
    }
    if (startSeen && noStartSeen) {
        *error = "--start and --no-start exclude each other";
        return std::nullopt;
    }
    if (startSeen && options.Pick == 0) {
        *error = "--start needs --pick N";
        return std::nullopt;
    }
    if (!options.GameOptionValues.empty() && (startSeen || options.Pick != 0)) {
        *error = "--options sets the game's options and ends; it takes no --pick or --start";
        return std::nullopt;
    }
    if ((options.Verify || options.Repair) &&
        (options.Verify == options.Repair || startSeen || options.Pick != 0 ||
         !options.GameOptionValues.empty() || !launcherSwitches.empty())) {
        *error =
            "--verify or --repair (one of them) checks the game and ends; it takes no "
            "--pick, --start, --options or launcher switches";
        return std::nullopt;
    }
    options.Start = startSeen;
    for (const auto& part : launcherSwitches) {
        if (!options.LauncherCommandLine.empty()) options.LauncherCommandLine += ' ';
        options.LauncherCommandLine += part;
    }
    return options;
}
