#pragma once
// Handing the chosen game server to the game client: the scrambled "connect" arguments, the
// Connection registry values the client reads back, and the clean-up of the staging directory
// before a start. CUpdateDlg::StartGame and StartGameAfterPatch put these together.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Registry.h"

using ScrambleKey = std::array<std::uint8_t, 4>;

// Adds key byte (i mod 4) to byte i of `text`, wrapping within 8 bits.
std::string ScrambleText(std::string_view text, const ScrambleKey& key);

// "connect /y<scrambled address> /z<scrambled port> " (each text scrambled from index 0).
std::string BuildGameArguments(std::string_view address, std::string_view port,
                               const ScrambleKey& key);

// Message number for a shell-style start result, or 0 when nothing is to be shown.
int ShellResultMessage(int shellResult);

// The registry key under HKEY_LOCAL_MACHINE that the game client reads the server from.
inline constexpr const char* kConnectionKey = "SOFTWARE\\Varnok\\Ka\\Connection";
inline constexpr std::uint32_t kLaunchStampMaxAgeMs = 5000;

// The Connection key: a time stamp ("Key") and the scrambled address and port.
class ConnectionRegistry {
public:
    using TickSource = std::function<std::uint32_t()>;

    ConnectionRegistry(Registry& registry, ScrambleKey key, TickSource tick);

    // "Key" = now; false when the key cannot be created or written.
    bool WriteLaunchStamp();
    // The "Key" value, or 0xFFFFFFFF when it cannot be read.
    std::uint32_t ReadLaunchStamp() const;
    void DeleteConnectionKey();
    // Refuses (deleting the key) when the stamp is missing or older than 5000 ms; otherwise
    // rewrites "ParameterA", "ParameterB" and the stamp.
    bool WriteConnectionParameters(const std::string& address, std::int32_t port);
    // Why WriteConnectionParameters refused or failed.
    const std::string& Problem() const { return problem_; }

private:
    Registry& registry_;
    ScrambleKey key_;
    TickSource tick_;
    std::string problem_;
};

// Empties "Temp" under `gameDir` and removes it; failures are silent.
void CleanTempDirectory(const std::filesystem::path& gameDir);

// Whether "config.ini" in `gameDir` can be opened for reading.
bool ConfigFileExists(const std::filesystem::path& gameDir);

// Why the game client could not be started, for the log and stderr: "no such file", "not
// executable (no execute permission)", "not a program the system can run", ...
std::string DescribeStartFailure(const std::filesystem::path& gameDirectory,
                                 const std::string& file, int shellResult);
