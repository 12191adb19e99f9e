#include "cli/CliOptions.h"

#include <charconv>

const char* const kCliUsage =
    "usage: torvane-cli [--game-dir DIR] [--config FILE] [--connect HOST[:PORT]] [--pick N]\n"
    "                   [--start | --no-start] [--timeout SECONDS] [--quiet | --verbose]\n"
    "                   [--log-file FILE] [--create-shortcut] [--] [/t | /r | /l VERSION]\n"
    "       torvane-cli [--config FILE] --options KEY=VALUE [--options KEY=VALUE ...]\n"
    "       torvane-cli [--game-dir DIR] [--config FILE] [--connect HOST[:PORT]]\n"
    "                   --verify | --repair\n"
    "Patches the game folder to the newest version, lists the game servers and, with --start,\n"
    "starts the game. See docs/cli.md.\n"
    "\n"
    "  --game-dir DIR         the game folder (default as for torvane: the current folder when\n"
    "                         it holds a game, else $XDG_DATA_HOME/torvane/game)\n"
    "  --config FILE          deployment settings (also $TORVANE_CONFIG)\n"
    "  --connect HOST[:PORT]  the connect server instead of the settings' one\n"
    "  --pick N               choose game server N (1 to 10) once the client is current\n"
    "  --start                then start the game (needs --pick); --no-start: do not\n"
    "  --timeout SECONDS      give up connecting after this long, exit status 3 (default 120;\n"
    "                         0 tries for ever)\n"
    "  --quiet                errors only; --verbose: every event of the log on stderr too\n"
    "  --log-file FILE        log of the run; default $XDG_STATE_HOME/torvane/torvane.log\n"
    "  --create-shortcut      write the desktop entry for this game folder\n"
    "  --options KEY=VALUE    set one of the game's options (ID, SoundOnOff, MusicOnOff,\n"
    "                         Resolution, ColorDepth, WindowMode) and end without connecting\n"
    "  --verify               compare the installed game with its version's signed manifest\n"
    "  --repair               and put back what differs\n"
    "  /t, /r, /l VERSION     test client, normal client, client version given\n"
    "  -h, --help             this text\n"
    "  --version              the program's version\n"
    "Exit status: 0 current (and started), 1 failed, 2 bad usage, 3 no connection in time.\n";

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
    bool startSeen = false;
    bool noStartSeen = false;
    bool quietSeen = false;
    bool verboseSeen = false;
    std::size_t i = 0;
    while (i < arguments.size()) {
        switch (TakeLauncherArgument(arguments, i, options, error)) {
            case ArgumentMatch::Taken:
                continue;
            case ArgumentMatch::Bad:
                return std::nullopt;
            case ArgumentMatch::NotMine:
                break;
        }
        const std::string& argument = arguments[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= arguments.size()) {
                *error = std::string(name) + " needs a value";
                return nullptr;
            }
            return &arguments[++i];
        };
        if (argument == "--connect") {
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
        } else if (argument == "--timeout") {
            const std::string* v = value("--timeout");
            if (!v) return std::nullopt;
            const auto n = Number(*v);
            if (!n || *n < 0 || *n > 86400) {
                *error = "--timeout needs a number of seconds from 0 to 86400";
                return std::nullopt;
            }
            options.TimeoutSeconds = static_cast<int>(*n);
        } else if (argument == "--start") {
            startSeen = true;
        } else if (argument == "--no-start") {
            noStartSeen = true;
        } else if (argument == "--quiet" || argument == "-q") {
            quietSeen = true;
        } else if (argument == "--verbose" || argument == "-v") {
            verboseSeen = true;
        } else {
            *error = "unknown argument: " + argument;
            return std::nullopt;
        }
        ++i;
    }
    if (quietSeen && verboseSeen) {
        *error = "--quiet and --verbose exclude each other";
        return std::nullopt;
    }
    options.Verbosity = quietSeen ? 0 : verboseSeen ? 2 : 1;
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
         !options.GameOptionValues.empty() || !options.LauncherCommandLine.empty())) {
        *error =
            "--verify or --repair (one of them) checks the game and ends; it takes no "
            "--pick, --start, --options or launcher switches";
        return std::nullopt;
    }
    options.Start = startSeen;
    return options;
}
