#pragma once
// The values a deployment chooses (addresses, names, keys, places), read from settings files
// over compiled-in defaults. The files, each read over the one before (missing ones skipped):
//   /etc/torvane/torvane.conf                 the machine's (a conffile of the package)
//   $XDG_CONFIG_HOME/torvane/torvane.conf     the user's own
//   torvane.conf beside the program           a game folder that carries its own launcher
//   $TORVANE_CONFIG                           a trial deployment, a test
//   the command line's file (torvane-cli --config)
//
// File format: one "key = value" per line; '#' starts a comment line; blanks around keys and
// values are dropped; unknown keys are reported and ignored. README.md documents every key.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DeploymentSettings {
    std::string ConnectAddress = "127.0.0.1";  // connect_address: at most 49 characters
    std::uint16_t ConnectPort = 44405;         // connect_port
    std::string NewsHost = "127.0.0.1";        // news_host: "http://<host>/gg.htm"
    std::string GameClient = "game.exe";       // game_client: file in the game directory
    std::array<std::uint8_t, 4> ScrambleKey{0x17, 0x2B, 0x3D, 0x4F};  // scramble_key: 4 hex bytes
    std::string LaunchCommand;                // launch_command: e.g. "wine", empty = direct
    std::filesystem::path SkinDirectory;      // skin_dir: <data_dir>/skin by default
    std::filesystem::path DataDirectory;      // data_dir: default message.wtf, click sound
    std::string CodePage = "CP949";           // code_page: iconv name of the texts' code page
    std::filesystem::path RegistryDirectory;  // registry_dir: $XDG_CONFIG_HOME/torvane/registry
    // registry: "files" (our own files, a native client) or "wine" (a Windows client's prefix).
    enum class RegistryKind { Files, Wine };
    RegistryKind RegistryStore = RegistryKind::Files;
    std::filesystem::path WinePrefix;  // wine_prefix: $WINEPREFIX or ~/.wine
    int WineClientBits = 32;           // wine_client_bits: 32 reads HKLM\SOFTWARE via Wow6432Node
    std::string WineLocale;            // wine_locale: empty = the code page's usual locale
    std::filesystem::path DesktopDirectory;  // desktop_dir: $XDG_DESKTOP_DIR or ~/Desktop
    bool DesktopEntry = false;               // desktop_entry: write it at every start
    int TransferStallSeconds = 60;           // transfer_stall_seconds: no bytes for this long fails
    std::string ProductName = "Torvane";     // product_name: window title, lock and .desktop name
    // trusted_key (repeatable): base64 lines of minisign public keys; when any is given, patch
    // repositories must be signed by one of them.
    std::vector<std::string> TrustedKeys;
    std::string HttpScheme = "http";  // http_scheme: "http" or "https" for HTTP patch servers
    std::filesystem::path CaFile;     // ca_file: PEM authorities for https; empty: the system's

    // Problems met while reading (unknown keys, bad values), one line each, for the log.
    std::vector<std::string> Warnings;
};

// Defaults with the places filled in from the environment (XDG variables, HOME) and the
// directory the program was started from.
DeploymentSettings DefaultDeploymentSettings(const std::filesystem::path& programDirectory);

// Reads `file` over `base`. A missing file gives `base` unchanged.
DeploymentSettings LoadDeploymentSettings(const std::filesystem::path& file,
                                          DeploymentSettings base);

// The machine's settings file.
inline const std::filesystem::path kSystemSettingsFile = "/etc/torvane/torvane.conf";

// The settings files in the order above, lowest first, from the environment of the moment;
// `commandLineFile` (may be empty) comes last.
std::vector<std::filesystem::path> DeploymentSettingsFiles(
    const std::filesystem::path& programDirectory, const std::filesystem::path& commandLineFile);

// Reads each of `files` that exists over `base`, in order.
DeploymentSettings LoadDeploymentSettingsFiles(const std::vector<std::filesystem::path>& files,
                                               DeploymentSettings base);

// Four hex bytes as scramble_key writes them: "17 2B 3D 4F", "17,2b,3d,4f", "0x17 0x2B 0x3D
// 0x4F" or "172B3D4F"; nullopt for anything else.
std::optional<std::array<std::uint8_t, 4>> ParseScrambleKey(std::string_view text);

// The directory of the running program (/proc/self/exe).
std::filesystem::path ProgramDirectory();
