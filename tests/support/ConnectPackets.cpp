#include "support/ConnectPackets.h"

namespace testsupport {

namespace {

const std::uint8_t kKey[3] = {0x5A, 0x3E, 0x91};

void PutCoded(PacketBytes& packet, std::size_t offset, std::size_t size, const std::string& text) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t plain = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
        packet[offset + i] = plain ^ kKey[i % 3];
    }
}

}  // namespace

PacketBytes MakePacket(std::uint8_t code, std::size_t size) {
    PacketBytes packet(size, 0);
    if (size <= 255) {
        packet[0] = 0xC1;
        packet[1] = static_cast<std::uint8_t>(size);
        packet[2] = code;
    } else {
        packet[0] = 0xC2;
        packet[1] = static_cast<std::uint8_t>(size >> 8);
        packet[2] = static_cast<std::uint8_t>(size);
        packet[3] = code;
    }
    return packet;
}

PacketBytes PatchServerPacket(std::uint8_t code, const PatchServerFields& fields,
                              std::size_t size) {
    PacketBytes packet = MakePacket(code, size);
    PutCoded(packet, 6, 100, fields.Host);
    packet[106] = static_cast<std::uint8_t>(fields.Port & 0xFF);  // little-endian
    packet[107] = static_cast<std::uint8_t>(fields.Port >> 8);
    PutCoded(packet, 108, 20, fields.User);
    PutCoded(packet, 128, 20, fields.Password);
    PutCoded(packet, 148, 20, fields.VersionFile);
    return packet;
}

}  // namespace testsupport
