#pragma once
// The process-wide shared state record. Zero-filled at start, never freed; the GUI thread
// writes it, except ServerListReceived, which the connect thread polls.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/ClientSocket.h"

#pragma pack(push, 1)
// One game server, the same 50 bytes in memory as on the wire (Port little-endian; the
// launcher only runs on little-endian hosts, which a static_assert in the .cpp checks).
struct ServerEntry {
    char Name[32];
    char Address[16];
    std::uint16_t Port;
};
#pragma pack(pop)
static_assert(sizeof(ServerEntry) == 50);

// The texts of an entry as received: up to the first NUL, and never past the field even when
// the server filled it to the last byte.
inline std::string ServerEntryName(const ServerEntry& entry) {
    return std::string(entry.Name, ::strnlen(entry.Name, sizeof entry.Name));
}
inline std::string ServerEntryAddress(const ServerEntry& entry) {
    return std::string(entry.Address, ::strnlen(entry.Address, sizeof entry.Address));
}

constexpr int kServerEntryCount = 10;
constexpr int kAltServerListSize = 64;

enum LaunchModeValue : std::int32_t {
    kLaunchNormal = 0,
    kLaunchTestClient = 1,
    kLaunchGivenVersion = 2
};

struct LauncherState {
    char ServerAddress[50]{};
    std::int32_t LaunchMode = 0;
    std::uint16_t ServerPort = 0;
    std::uint8_t CommandLineVersion[3]{};
    std::int32_t TestServer = 0;
    std::int32_t AltServerValid = 0;
    char AltServerAddress[64]{};
    std::uint32_t AltServerList[kAltServerListSize]{};
    ServerEntry ServerEntries[kServerEntryCount]{};
    std::int32_t SelectedServer = 0;
    char LaunchAddress[64]{};
    char LaunchPort[8]{};
    std::atomic<std::int32_t> ServerListReceived{0};
    std::int32_t ProgressVisible = 0;
    CClientSocket Connection;
};

extern LauncherState g_State;
