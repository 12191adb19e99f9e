#include "net/PacketFrame.h"

namespace packetframe {

std::size_t HeaderSize(std::uint8_t head) {
    if (head == kHeadC1) return 2;
    if (head == kHeadC2) return 3;
    return 0;
}

FrameStatus PeekFrame(const std::uint8_t* data, std::size_t available, std::size_t* length) {
    if (available == 0) return FrameStatus::NeedMore;
    const std::size_t header = HeaderSize(data[0]);
    if (header == 0) return FrameStatus::BadHead;
    // Never take a length byte from beyond what has arrived.
    if (available < header) return FrameStatus::NeedMore;
    const std::size_t announced =
        header == 2 ? data[1] : (static_cast<std::size_t>(data[1]) << 8) | data[2];
    if (length != nullptr) *length = announced;
    if (announced == 0) return FrameStatus::ZeroLength;
    return announced <= available ? FrameStatus::Complete : FrameStatus::NeedMore;
}

int PacketCode(const std::uint8_t* packet, std::size_t length) {
    if (length == 0) return -1;
    const std::size_t header = HeaderSize(packet[0]);
    if (header == 0 || length <= header) return -1;
    return packet[header];
}

}  // namespace packetframe
