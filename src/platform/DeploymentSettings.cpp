// torvane.conf: the deployment's choices. Every key, its meaning and its default:
//
//   connect_address         host name, dotted IPv4 or IPv6 address of the connect server, at most
//                           49 characters. Default 127.0.0.1.
//   connect_port            TCP port of the connect server, 1..65535. Default 44405.
//   news_host               host (optionally host:port) serving the news page
//                           "http://<news_host>/gg.htm". Default 127.0.0.1.
//   game_client             the game client's program, a file in the game directory.
//                           Default game.exe.
//   scramble_key            the four key bytes shared with the game client that scramble the
//                           hand-off address and port, as four hex bytes ("17 2B 3D 4F",
//                           "17,2b,3d,4f" or "172B3D4F"). Default 17 2B 3D 4F.
//   launch_command          program (and fixed arguments, blank-separated) that runs the game
//                           client, e.g. "wine"; empty starts the client directly. Default empty.
//   data_dir                default data: message.wtf, data/sound/beep.wav. Default: the first
//                           of <program dir>/../assets, <program dir>/../share/torvane that
//                           exists, else the program's directory.
//   skin_dir                skin bitmaps, <number>.bmp. Default <data_dir>/skin.
//   code_page               iconv name of the code page the game's texts are stored in.
//                           Default CP949.
//   registry_dir            where the registry files (HKEY_CURRENT_USER.reg,
//                           HKEY_LOCAL_MACHINE.reg) live. Default
//                           $XDG_CONFIG_HOME/torvane/registry (~/.config/torvane/registry).
//   registry                "files": the registry lives in registry_dir (a native game client);
//                           "wine": in the Wine prefix wine_prefix (a Windows game client).
//                           Default files.
//   wine_prefix             the Wine prefix of a Windows game client. Default $WINEPREFIX, else
//                           ~/.wine.
//   wine_client_bits        32 or 64: a 32-bit client reads HKEY_LOCAL_MACHINE\SOFTWARE through
//                           Wow6432Node. Default 32.
//   wine_locale             the locale the client runs in under Wine; its character set must be
//                           code_page. Default: the usual locale of code_page (ko_KR.CP949 for
//                           CP949, en_US.CP1252 for CP1252, ...).
//   desktop_dir             where the launcher's .desktop entry is written. Default the XDG
//                           desktop directory ($XDG_DESKTOP_DIR, user-dirs.dirs, ~/Desktop).
//   desktop_entry           yes: the window launcher writes its desktop entry for the game
//                           folder at every start. Default no (--create-shortcut asks once).
//   transfer_stall_seconds  a patch transfer that receives nothing for this long fails, 1..3600.
//                           Default 60.
//   product_name            window title, instance lock and .desktop name. Default Torvane.
//   http_scheme             http (default) or https: how HTTP patch servers are reached.
//   ca_file                 PEM file of the certificate authorities https trusts; default the
//                           system's store.
//   trusted_key             the base64 line of a minisign public key; repeat for several keys.
//                           With any, patch repositories must be signed by one of them.
//
// Relative directories are taken relative to the settings file's own directory.
#include "platform/DeploymentSettings.h"

#include <iconv.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>

#include "platform/AsciiText.h"
#include "platform/KeyValueLines.h"

namespace {

std::filesystem::path Home() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    return "/tmp";
}

std::filesystem::path EnvDirectory(const char* name) {
    const char* value = std::getenv(name);
    if (value && *value == '/') return value;
    return {};
}

// XDG_DESKTOP_DIR="$HOME/Desktop" in ~/.config/user-dirs.dirs.
std::filesystem::path UserDirsDesktop(const std::filesystem::path& configHome) {
    std::ifstream in(configHome / "user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        std::string_view text = TrimAscii(line);
        constexpr std::string_view prefix = "XDG_DESKTOP_DIR=";
        if (text.substr(0, prefix.size()) != prefix) continue;
        text.remove_prefix(prefix.size());
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
            text = text.substr(1, text.size() - 2);
        }
        if (text.substr(0, 5) == "$HOME") return Home().string() + std::string(text.substr(5));
        if (!text.empty() && text.front() == '/') return std::string(text);
    }
    return {};
}

std::optional<long> ParseInteger(std::string_view text, long low, long high) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

bool KnownCodePage(const std::string& name) {
    iconv_t cd = ::iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    ::iconv_close(cd);
    return true;
}

}  // namespace

std::filesystem::path ProgramDirectory() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

DeploymentSettings DefaultDeploymentSettings(const std::filesystem::path& programDirectory) {
    DeploymentSettings settings;
    settings.DataDirectory = programDirectory;
    for (const auto& candidate :
         {programDirectory / ".." / "assets", programDirectory / ".." / "share" / "torvane"}) {
        std::error_code ec;
        if (std::filesystem::is_directory(candidate, ec)) {
            settings.DataDirectory = candidate.lexically_normal();
            break;
        }
    }
    settings.SkinDirectory = settings.DataDirectory / "skin";

    std::filesystem::path configHome = EnvDirectory("XDG_CONFIG_HOME");
    if (configHome.empty()) configHome = Home() / ".config";
    settings.RegistryDirectory = configHome / "torvane" / "registry";
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
        settings.WinePrefix = prefix;
    } else {
        settings.WinePrefix = Home() / ".wine";
    }

    settings.DesktopDirectory = EnvDirectory("XDG_DESKTOP_DIR");
    if (settings.DesktopDirectory.empty()) settings.DesktopDirectory = UserDirsDesktop(configHome);
    if (settings.DesktopDirectory.empty()) settings.DesktopDirectory = Home() / "Desktop";
    return settings;
}

DeploymentSettings LoadDeploymentSettings(const std::filesystem::path& file,
                                          DeploymentSettings base) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return base;
    const std::filesystem::path here = file.parent_path();
    const auto directory = [&](std::string_view value) {
        const std::filesystem::path path{std::string(value)};
        return path.is_absolute() ? path : (here / path).lexically_normal();
    };
    bool skinGiven = false;
    for (const KeyValueLine& line : ReadKeyValueLines(in)) {
        const std::string where = file.string() + ":" + std::to_string(line.Number) + ": ";
        if (!line.HasEquals) {
            base.Warnings.push_back(where + "not a \"key = value\" line");
            continue;
        }
        const std::string& key = line.Key;
        const std::string_view value = line.Value;
        const auto bad = [&](const char* why) {
            base.Warnings.push_back(where + key + ": " + why + "; kept the default");
        };

        if (key == "connect_address") {
            if (value.empty() || value.size() > 49) {
                bad("must be 1 to 49 characters");
            } else {
                base.ConnectAddress = std::string(value);
            }
        } else if (key == "connect_port") {
            if (const auto port = ParseInteger(value, 1, 65535)) {
                base.ConnectPort = static_cast<std::uint16_t>(*port);
            } else {
                bad("not a port number");
            }
        } else if (key == "news_host") {
            if (value.empty() || value.find_first_of("/ ") != std::string_view::npos) {
                bad("must be a host name, without '/' or blanks");
            } else {
                base.NewsHost = std::string(value);
            }
        } else if (key == "game_client") {
            if (value.empty()) {
                bad("must not be empty");
            } else {
                base.GameClient = std::string(value);
            }
        } else if (key == "scramble_key") {
            if (const auto parsed = ParseScrambleKey(value)) {
                base.ScrambleKey = *parsed;
            } else {
                bad("must be four hex bytes");
            }
        } else if (key == "launch_command") {
            base.LaunchCommand = std::string(value);
        } else if (key == "data_dir") {
            const bool skinFollowed = base.SkinDirectory == base.DataDirectory / "skin";
            base.DataDirectory = directory(value);
            if (skinFollowed && !skinGiven) base.SkinDirectory = base.DataDirectory / "skin";
        } else if (key == "skin_dir") {
            base.SkinDirectory = directory(value);
            skinGiven = true;
        } else if (key == "code_page") {
            if (!KnownCodePage(std::string(value))) {
                bad("unknown to iconv");
            } else {
                base.CodePage = std::string(value);
            }
        } else if (key == "registry_dir") {
            base.RegistryDirectory = directory(value);
        } else if (key == "registry") {
            if (value == "files") {
                base.RegistryStore = DeploymentSettings::RegistryKind::Files;
            } else if (value == "wine") {
                base.RegistryStore = DeploymentSettings::RegistryKind::Wine;
            } else {
                bad("must be \"files\" or \"wine\"");
            }
        } else if (key == "wine_prefix") {
            base.WinePrefix = directory(value);
        } else if (key == "wine_client_bits") {
            if (value == "32" || value == "64") {
                base.WineClientBits = value == "32" ? 32 : 64;
            } else {
                bad("must be 32 or 64");
            }
        } else if (key == "wine_locale") {
            base.WineLocale = std::string(value);
        } else if (key == "desktop_dir") {
            base.DesktopDirectory = directory(value);
        } else if (key == "desktop_entry") {
            if (value == "yes" || value == "no") {
                base.DesktopEntry = value == "yes";
            } else {
                bad("must be yes or no");
            }
        } else if (key == "transfer_stall_seconds") {
            if (const auto seconds = ParseInteger(value, 1, 3600)) {
                base.TransferStallSeconds = static_cast<int>(*seconds);
            } else {
                bad("must be a whole number of seconds, 1 to 3600");
            }
        } else if (key == "http_scheme") {
            if (value != "http" && value != "https") {
                bad("must be http or https");
            } else {
                base.HttpScheme = std::string(value);
            }
        } else if (key == "ca_file") {
            base.CaFile = directory(value);
        } else if (key == "trusted_key") {
            if (value.empty()) {
                bad("must be the base64 line of a minisign public key");
            } else {
                base.TrustedKeys.emplace_back(value);
            }
        } else if (key == "product_name") {
            if (value.empty() || value.find('/') != std::string_view::npos) {
                bad("must be a non-empty name without '/'");
            } else {
                base.ProductName = std::string(value);
            }
        } else {
            base.Warnings.push_back(where + "unknown key \"" + key + "\" ignored");
        }
    }
    return base;
}

std::vector<std::filesystem::path> DeploymentSettingsFiles(
    const std::filesystem::path& programDirectory, const std::filesystem::path& commandLineFile) {
    std::filesystem::path configHome = EnvDirectory("XDG_CONFIG_HOME");
    if (configHome.empty()) configHome = Home() / ".config";
    std::vector<std::filesystem::path> files{kSystemSettingsFile,
                                             configHome / "torvane" / "torvane.conf",
                                             programDirectory / "torvane.conf"};
    const char* environment = std::getenv("TORVANE_CONFIG");
    if (environment && *environment) files.emplace_back(environment);
    if (!commandLineFile.empty()) files.push_back(commandLineFile);
    return files;
}

DeploymentSettings LoadDeploymentSettingsFiles(const std::vector<std::filesystem::path>& files,
                                               DeploymentSettings base) {
    for (const auto& file : files) base = LoadDeploymentSettings(file, std::move(base));
    return base;
}

std::optional<std::array<std::uint8_t, 4>> ParseScrambleKey(std::string_view text) {
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;  // "0x" prefix
            continue;
        }
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if (c != ' ' && c != ',' && c != ':' && c != '\t') {
            return std::nullopt;
        }
    }
    if (digits.size() != 8) return std::nullopt;
    std::array<std::uint8_t, 4> key{};
    for (std::size_t i = 0; i < 4; ++i) {
        key[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(i * 2, 2), nullptr, 16));
    }
    return key;
}
