#pragma once
// The connect server's packet framing, shared by the launcher's socket and the development
// server. A packet starts with a head byte: 0xC1 (one length byte follows) or 0xC2 (two length
// bytes follow, big-endian). The length counts the whole packet, header included.

#include <cstddef>
#include <cstdint>

namespace packetframe {

constexpr std::uint8_t kHeadC1 = 0xC1;
constexpr std::uint8_t kHeadC2 = 0xC2;

// Header size for a head byte (2 or 3), 0 for a byte that starts no packet.
std::size_t HeaderSize(std::uint8_t head);

enum class FrameStatus {
    Complete,    // a whole packet of `*length` bytes is at the front
    NeedMore,    // the header or the body is not all there yet
    BadHead,     // the first byte is neither 0xC1 nor 0xC2
    ZeroLength,  // the length field is 0: no packet can ever be cut here
};

// Looks at the packet at the front of `available` bytes. `*length` gets the announced length
// whenever the header is complete (also for NeedMore with a complete header).
FrameStatus PeekFrame(const std::uint8_t* data, std::size_t available, std::size_t* length);

// The code byte (offset 2 for C1, 3 for C2), or -1 when the packet is too short to hold it or
// does not start with a valid head byte.
int PacketCode(const std::uint8_t* packet, std::size_t length);

}  // namespace packetframe
