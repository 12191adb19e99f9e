#pragma once
// The part of the launcher's shared state record that the connect-server messages read and
// fill: the connection itself, the server list, the address list of a go-ahead, and the launch
// mode that an FTP patch-server reply resets. The record itself (LauncherState, app/) extends
// it with what only the launcher uses.

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/ClientSocket.h"
#include "platform/LaunchMode.h"

#pragma pack(push, 1)
// One game server, the same 50 bytes in memory as on the wire (Port little-endian; the
// launcher only runs on little-endian hosts, checked here).
struct ServerEntry {
    char Name[32];
    char Address[16];
    std::uint16_t Port;
};
#pragma pack(pop)
static_assert(sizeof(ServerEntry) == 50);
static_assert(std::endian::native == std::endian::little,
              "ServerEntry is copied from the wire as it stands");

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

struct ConnectState {
    std::int32_t LaunchMode = kLaunchNormal;
    std::int32_t AltServerValid = 0;
    char AltServerAddress[64]{};
    std::uint32_t AltServerList[kAltServerListSize]{};
    ServerEntry ServerEntries[kServerEntryCount]{};
    CClientSocket Connection;
};
