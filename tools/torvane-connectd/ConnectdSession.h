#pragma once
// One client's conversation with the connect server: greet, answer the server-list request and
// the version request. Knows no socket: the server feeds it the bytes it received and sends the
// pieces it hands back, so thousands of conversations can share one event loop.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ConnectdSettings.h"

using Packet = std::vector<std::uint8_t>;

// Packets as the server sends them.
Packet BuildGreeting(std::uint8_t result);
Packet BuildServerList(const ConnectdSettings& settings);
Packet BuildGoAhead(const ConnectdSettings& settings);
Packet BuildPatchServer(const ConnectdSettings& settings);

// Bytes to write, no earlier than `DelayMs` after the piece before them went out.
struct OutgoingPiece {
    Packet Bytes;
    int DelayMs = 0;
};

class ConnectdSession {
public:
    // Largest packet a client may send; the launcher's requests are 3 and 6 bytes long.
    static constexpr std::size_t kReceiveCapacity = 512;

    // `trace` receives one line per packet ("send C1 04 00 01", "recv C1 03 09"), or is empty.
    ConnectdSession(std::shared_ptr<const ConnectdSettings> settings,
                    std::function<void(const std::string&)> trace);

    // The greeting, to send as soon as the client is connected.
    std::vector<OutgoingPiece> Start();

    enum class Input {
        Ok,
        TooLong,  // a packet longer than kReceiveCapacity: the client is not a launcher
    };
    // Frames and answers what arrived; the replies are appended to `out`.
    Input Receive(const std::uint8_t* data, std::size_t size, std::vector<OutgoingPiece>& out);

    // Both requests answered: what a launcher needs has been sent.
    bool Answered() const { return sawListRequest_ && sawVersionRequest_; }
    // "version 1.2.3, list, ftp" style summary of what was asked and answered, for the log.
    std::string Summary() const;

private:
    void Answer(const std::uint8_t* packet, std::size_t length, std::vector<Packet>& replies);
    // The replies as the settings' misbehaviour breaks them into pieces.
    std::vector<OutgoingPiece> Stream(std::vector<Packet> packets);
    void Trace(const char* what, const std::uint8_t* data, std::size_t size) const;

    std::shared_ptr<const ConnectdSettings> settings_;
    std::function<void(const std::string&)> trace_;
    std::array<std::uint8_t, kReceiveCapacity> received_{};
    std::size_t receivedLength_ = 0;
    bool sentGreeting_ = false;
    bool sawListRequest_ = false;
    bool sawVersionRequest_ = false;
    std::string version_;  // as the client sent it, "1.2.3"
    const char* reply_ = nullptr;
    std::vector<Packet> pending_;  // coalesced replies not sent yet
};
