#pragma once
// Settings of the development connect server (docs/connectd.md describes the file).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ConnectdServer {
    std::string Name;
    std::string Address;
    std::uint16_t Port = 0;
};

enum class PatchKind { None, Ftp, Http };

// Ways to break the protocol on purpose, for tests of the launcher's framing.
enum class Misbehaviour {
    None,
    Split,        // every packet goes out in small pieces, one write each
    Coalesce,     // the replies to one greeting go out in a single write
    BadHead,      // replies start with 0xC3 instead of a valid head byte
    ShortPacket,  // the list and patch-server packets are cut short (length fields agree)
    ZeroLength,   // a packet with length 0 comes before the replies
};

struct ConnectdSettings {
    std::array<ConnectdServer, 10> Servers{};
    PatchKind Patch = PatchKind::None;
    std::string PatchHost = "127.0.0.1";
    std::uint16_t PatchPort = 0;
    std::string PatchUser;
    std::string PatchPassword;
    std::string PatchVersionFile;
    // A client at this version or newer gets the go-ahead instead of the patch server.
    std::optional<std::array<std::uint8_t, 3>> CurrentVersion;
    bool SendAddressList = false;
    std::vector<std::uint32_t> AddressList;  // network byte order
    std::uint8_t GreetingResult = 1;
    Misbehaviour Misbehave = Misbehaviour::None;
};

// Reads the settings file; on failure returns nullopt and describes the problem in `error`.
std::optional<ConnectdSettings> LoadConnectdSettings(const std::string& path, std::string* error);
std::optional<Misbehaviour> ParseMisbehaviour(const std::string& text);
