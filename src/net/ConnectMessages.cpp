#include "net/ConnectMessages.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "net/PacketFrame.h"
#include "text/MessageNumbers.h"

ConnectMessages::ConnectMessages(ConnectState& state, ConnectServerEvents& events)
    : state_(state), events_(events) {}

void ConnectMessages::DispatchPackets() {
    int length = 0;
    while (const std::uint8_t* packet = state_.Connection.NextPacket(&length)) {
        HandlePacket(packet, static_cast<std::size_t>(length));
    }
}

void ConnectMessages::HandlePacket(const std::uint8_t* packet, std::size_t length) {
    if (packet == nullptr) return;
    switch (packetframe::PacketCode(packet, length)) {
        case kGreeting:
            OnGreeting(packet, length);
            break;
        case kGoAhead:
            OnGoAhead(packet, length, false);
            break;
        case kGoAheadWithList:
            OnGoAhead(packet, length, true);
            break;
        case kHttpPatchServer:
            OnHttpPatchServer(packet, length);
            break;
        case kFtpPatchServer:
            OnFtpPatchServer(packet, length, false);
            break;
        case kFtpPatchServerWithList:
            OnFtpPatchServer(packet, length, true);
            break;
        case kServerList:
            OnServerList(packet, length);
            break;
        default:
            break;  // other codes, and packets too short to carry a code
    }
}

void ConnectMessages::OnGreeting(const std::uint8_t* packet, std::size_t length) {
    if (length <= kGreetingResultOffset || packet[kGreetingResultOffset] != 1) return;
    events_.OnGreeting();
    static constexpr std::uint8_t kServerListRequest[3] = {0xC1, 0x03, 0x09};
    state_.Connection.Send(kServerListRequest, sizeof kServerListRequest);
    const auto version = events_.ClientVersion();
    const std::uint8_t versionRequest[6] = {0xC1, 0x06, 0x04, version[0], version[1], version[2]};
    state_.Connection.Send(versionRequest, sizeof versionRequest);
}

void ConnectMessages::OnGoAhead(const std::uint8_t* packet, std::size_t length, bool withList) {
    if (withList) StoreAddressList(packet, length, kGoAheadListOffset);
    events_.OnConnectReady();
}

void ConnectMessages::OnHttpPatchServer(const std::uint8_t* packet, std::size_t length) {
    if (SessionAlreadyRuns()) return;
    PatchServerInfo info;
    if (!PatchServerInfo::FromPacket(packet, length, &info)) return;
    // Handed over still coded: the HTTP session decodes it itself.
    events_.SetHttpPatchServer(info);
    if (!events_.StartHttpPatch()) events_.SetStatusMessage(kMsgPatchFailed);
}

void ConnectMessages::OnFtpPatchServer(const std::uint8_t* packet, std::size_t length,
                                       bool withList) {
    if (SessionAlreadyRuns()) return;
    PatchServerInfo info;
    if (!PatchServerInfo::FromPacket(packet, length, &info)) return;
    // Everything is copied out of the packet before the session runs: the session pumps
    // events, and a packet received meanwhile may reuse this packet's queue slot.
    if (withList) StoreAddressList(packet, length, kFtpListOffset);
    info.Decode();
    if (state_.LaunchMode == kLaunchGivenVersion) state_.LaunchMode = kLaunchNormal;
    if (!events_.RunFtpPatch(info)) {
        events_.SetStatusMessage(kMsgPatchFailed);
        events_.ShowAndEnableStartButton();
    }
}

bool ConnectMessages::SessionAlreadyRuns() const {
    if (!events_.PatchSessionActive()) return false;
    std::fprintf(stderr,
                 "torvane: connect server: a patch-server message arrived while a patch session "
                 "runs; it is ignored\n");
    return true;
}

void ConnectMessages::OnServerList(const std::uint8_t* packet, std::size_t length) {
    if (length < kServerListEnd) return;
    std::memcpy(state_.ServerEntries, packet + kServerListOffset, sizeof state_.ServerEntries);
}

void ConnectMessages::StoreAddressList(const std::uint8_t* packet, std::size_t length,
                                       std::size_t offset) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    if (length < offset + 2) {
        state_.AltServerValid = 0;
        return;
    }
    const std::uint8_t flag = packet[offset];
    const int count = static_cast<std::int8_t>(packet[offset + 1]);
    if (flag == 0 || count < 1) {
        state_.AltServerValid = 0;
        return;
    }
    // Only addresses that are really in the packet are taken.
    const std::size_t present = (length - offset - 2) / 4;
    const std::size_t stored = std::min<std::size_t>(
        {static_cast<std::size_t>(count), static_cast<std::size_t>(kAltServerListSize), present});
    if (stored == 0) {
        state_.AltServerValid = 0;
        return;
    }
    std::memcpy(state_.AltServerList, packet + offset + 2, stored * 4);
    state_.AltServerValid = 1;
    const unsigned pick = (random_ ? random_() : static_cast<unsigned>(std::rand())) % stored;
    in_addr address{};
    address.s_addr = state_.AltServerList[pick];
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
        state_.AltServerValid = 0;
        return;
    }
    std::memset(state_.AltServerAddress, 0, sizeof state_.AltServerAddress);
    std::memcpy(state_.AltServerAddress, text, std::strlen(text));
}
