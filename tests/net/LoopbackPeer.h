#pragma once
// A real TCP peer on 127.0.0.1 (or ::1) for the socket tests, and a client socket connected to it
// with its own poll() loop.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/ClientSocket.h"
#include "platform/PollEventLoop.h"

using Bytes = std::vector<std::uint8_t>;

class LoopbackPeer {
public:
    explicit LoopbackPeer(int backlog = 16, bool ipv6 = false);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return port_; }
    int ListenFd() const { return listener_; }
    // Accepts one connection (waits at most 10 s); the accepted socket is kept.
    bool Accept();
    int Fd() const { return accepted_; }
    void Write(const Bytes& bytes);
    // Reads exactly `count` bytes, waiting at most `timeoutMs` for each part.
    Bytes Read(std::size_t count, int timeoutMs = 10000);
    // Reads what has arrived within `timeoutMs` of quiet.
    Bytes ReadAvailable(int timeoutMs = 100);

private:
    int listener_ = -1;
    int accepted_ = -1;
    int port_ = 0;
};

// A CClientSocket connected to a LoopbackPeer, driven by a PollEventLoop on this thread.
class ConnectedClient {
public:
    // Connects `socket` (or a socket of its own when null) to a fresh peer listening on `host`
    // (127.0.0.1 or ::1).
    explicit ConnectedClient(CClientSocket* socket = nullptr,
                             const std::string& host = "127.0.0.1");
    CClientSocket& Socket() { return *socket_; }
    PollEventLoop& Loop() { return loop_; }
    LoopbackPeer& Peer() { return peer_; }
    // Runs after every receive (the dispatch loop's place); unset: packets stay queued.
    std::function<void()> OnPackets;

    // Runs the loop until `done` holds; false when it did not within `timeoutMs`.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);
    // Runs the loop until nothing is pending for a short while.
    void PumpIdle();
    // Collects the queued packets.
    std::vector<Bytes> DrainQueue();

private:
    PollEventLoop loop_;
    LoopbackPeer peer_;
    std::unique_ptr<CClientSocket> own_;
    CClientSocket* socket_;
};
