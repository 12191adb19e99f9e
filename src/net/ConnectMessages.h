#pragma once
// The connect server's messages: what the launcher answers and what each reply sets off.
//
// The server speaks first. Its greeting (code 0, result 1) is answered with two requests: the
// game-server list (C1 03 09) and the client version (C1 06 04 major minor build). Replies:
// code 9 fills the ten server entries; 2 and 3 are the go-ahead (3 with an address list);
// 5 and 8 describe an FTP patch server (8 with an address list), 4 an HTTP one.
//
// GUI thread only. A packet too short for the fields its handler reads is ignored, except
// that a go-ahead without a complete address list still goes ahead (with no list).

#include <cstddef>
#include <cstdint>
#include <functional>

#include "net/ConnectServerEvents.h"
#include "net/ConnectState.h"

class ConnectMessages {
public:
    enum Code : int {
        kGreeting = 0,
        kGoAhead = 2,
        kGoAheadWithList = 3,
        kHttpPatchServer = 4,
        kFtpPatchServer = 5,
        kFtpPatchServerWithList = 8,
        kServerList = 9,
    };

    // Offsets of the fields the handlers read.
    static constexpr std::size_t kGreetingResultOffset = 3;
    static constexpr std::size_t kGoAheadListOffset = 4;
    static constexpr std::size_t kFtpListOffset = 168;
    static constexpr std::size_t kServerListOffset = 4;
    static constexpr std::size_t kServerListEnd =
        kServerListOffset + kServerEntryCount * sizeof(ServerEntry);

    ConnectMessages(ConnectState& state, ConnectServerEvents& events);

    // Takes packets from the state's connection until its queue is empty.
    void DispatchPackets();
    // Handles one whole packet of `length` bytes, header included.
    void HandlePacket(const std::uint8_t* packet, std::size_t length);

    // For tests: the random pick among the received addresses (default: C library rand(),
    // seeded with the time in seconds at every list).
    void SetRandomSource(std::function<unsigned()> source) { random_ = std::move(source); }

private:
    void OnGreeting(const std::uint8_t* packet, std::size_t length);
    void OnGoAhead(const std::uint8_t* packet, std::size_t length, bool withList);
    void OnHttpPatchServer(const std::uint8_t* packet, std::size_t length);
    void OnFtpPatchServer(const std::uint8_t* packet, std::size_t length, bool withList);
    void OnServerList(const std::uint8_t* packet, std::size_t length);
    // True (and said on stderr) when a patch session runs: the message is dropped.
    bool SessionAlreadyRuns() const;
    void StoreAddressList(const std::uint8_t* packet, std::size_t length, std::size_t offset);

    ConnectState& state_;
    ConnectServerEvents& events_;
    std::function<unsigned()> random_;
};
