#pragma once
// Connect-server packets as a server sends them, for the message and controller tests.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using PacketBytes = std::vector<std::uint8_t>;

// A packet of `size` bytes with its code; C1 up to 255 bytes, C2 above. Fields are zero.
PacketBytes MakePacket(std::uint8_t code, std::size_t size);

// A patch-server message (code 4 HTTP, 5 or 8 FTP) with its texts coded as on the wire.
struct PatchServerFields {
    std::string Host = "patch.example.net";
    std::uint16_t Port = 21;
    std::string User = "anonymous";
    std::string Password = "secret";
    std::string VersionFile = "version.txt";
};
PacketBytes PatchServerPacket(std::uint8_t code, const PatchServerFields& fields = {},
                              std::size_t size = 168);

}  // namespace testsupport
