#include "app/LauncherArguments.h"

const char* const kLauncherUsage =
    "usage: torvane [--game-dir DIR] [--config FILE] [--log-file FILE] [--create-shortcut]\n"
    "               [--] [/t | /r | /l VERSION]\n"
    "Patches the game folder to the newest version, shows the game servers and starts the game.\n"
    "\n"
    "  --game-dir DIR      the game folder; default: the current folder when it holds a game,\n"
    "                      else the program's folder when it does, else\n"
    "                      $XDG_DATA_HOME/torvane/game (created; the game is installed there)\n"
    "  --config FILE       deployment settings (also $TORVANE_CONFIG)\n"
    "  --log-file FILE     log of the run; default $XDG_STATE_HOME/torvane/torvane.log\n"
    "  --create-shortcut   write the desktop entry for this game folder\n"
    "  /t, /r, /l VERSION  test client, normal client, client version given\n"
    "  -h, --help          this text\n"
    "  --version           the program's version\n";

namespace {

// The switches of the launcher: "/t", "/r" alone, or "/l" with at most one version word.
bool ValidSwitches(const std::vector<std::string>& words, std::string* error) {
    if (words.empty()) return true;
    const std::string& first = words[0];
    const std::size_t allowed = first == "/l" ? 2 : 1;
    if (first != "/t" && first != "/r" && first != "/l") {
        *error = "unknown switch: " + first;
        return false;
    }
    if (words.size() > allowed) {
        *error = "unexpected argument after " + first + ": " + words[allowed];
        return false;
    }
    return true;
}

}  // namespace

ArgumentMatch TakeLauncherArgument(const std::vector<std::string>& arguments, std::size_t& i,
                                   LauncherArguments& out, std::string* error) {
    const std::string& argument = arguments[i];
    if (argument == "--" || (!argument.empty() && argument[0] == '/')) {
        const std::size_t first = argument == "--" ? i + 1 : i;
        const std::vector<std::string> words(arguments.begin() + static_cast<long>(first),
                                             arguments.end());
        if (!ValidSwitches(words, error)) return ArgumentMatch::Bad;
        out.LauncherCommandLine.clear();
        for (const auto& word : words) {
            if (!out.LauncherCommandLine.empty()) out.LauncherCommandLine += ' ';
            out.LauncherCommandLine += word;
        }
        i = arguments.size();
        return ArgumentMatch::Taken;
    }
    std::filesystem::path* target = nullptr;
    if (argument == "--game-dir")
        target = &out.GameDirectory;
    else if (argument == "--config")
        target = &out.ConfigFile;
    else if (argument == "--log-file")
        target = &out.LogFile;
    if (target) {
        if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
            *error = argument + " needs a value";
            return ArgumentMatch::Bad;
        }
        *target = arguments[i + 1];
        i += 2;
        return ArgumentMatch::Taken;
    }
    if (argument == "--create-shortcut") {
        out.CreateShortcut = true;
        ++i;
        return ArgumentMatch::Taken;
    }
    return ArgumentMatch::NotMine;
}

std::optional<LauncherArguments> ParseLauncherArguments(const std::vector<std::string>& arguments,
                                                        std::string* error) {
    LauncherArguments out;
    std::size_t i = 0;
    while (i < arguments.size()) {
        switch (TakeLauncherArgument(arguments, i, out, error)) {
            case ArgumentMatch::Taken:
                break;
            case ArgumentMatch::Bad:
                return std::nullopt;
            case ArgumentMatch::NotMine:
                *error = "unknown argument: " + arguments[i];
                return std::nullopt;
        }
    }
    return out;
}
