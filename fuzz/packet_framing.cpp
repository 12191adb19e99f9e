// Cuts arbitrary byte streams, delivered in arbitrary pieces, into connect-server packets.
// Every queued packet must be whole, correctly headed and within its slot.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "net/ClientSocket.h"
#include "net/PacketFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the piece size, so one input covers many ways of arriving.
    const std::size_t piece = 1 + data[0] % 64;
    ++data;
    --size;
    auto socket = std::make_unique<CClientSocket>();
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t count = std::min(piece, size - offset);
        const int taken = socket->FeedReceived(data + offset, static_cast<int>(count));
        if (taken == 0) break;  // a stalled stream: nothing more will be framed
        offset += static_cast<std::size_t>(taken);
        if (socket->RecvBufferLength() < 0 ||
            socket->RecvBufferLength() > CClientSocket::kBufferSize) {
            std::abort();
        }
        int length = 0;
        while (const std::uint8_t* packet = socket->NextPacket(&length)) {
            if (length < 1 || length > CClientSocket::kBufferSize) std::abort();
            const std::size_t header = packetframe::HeaderSize(packet[0]);
            if (header == 0) std::abort();
            // A length field smaller than the header still cuts a (useless) packet of that
            // many bytes; any other packet must be exactly as long as it says.
            std::size_t announced = 0;
            if (static_cast<std::size_t>(length) >= header &&
                (packetframe::PeekFrame(packet, static_cast<std::size_t>(length), &announced) !=
                     packetframe::FrameStatus::Complete ||
                 announced != static_cast<std::size_t>(length))) {
                std::abort();
            }
        }
    }
    return 0;
}
