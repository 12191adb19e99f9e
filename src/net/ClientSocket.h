#pragma once
// The one connection to the connect server.
//
// A TCP socket, non-blocking once connected, with a fixed 4096-byte send buffer for what the
// network could not take at once, a fixed 4096-byte receive buffer that is cut into C1/C2
// packets, and a queue of ten received packets that the message layer drains. Nothing is
// allocated after construction.
//
// Threads: CreateSocket and Connect run on the connect thread; once Connect has succeeded the
// socket belongs to the GUI thread, which gets its readiness events from the EventLoop (the
// watch is registered there through EventLoop::Post). Everything else runs on the GUI thread,
// except AbandonConnects, which any thread may call. Close on the GUI thread while a Connect
// is in progress abandons that attempt; the connect thread then closes the descriptor, so a
// descriptor is never closed under a thread still waiting on it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "net/HostLookup.h"
#include "platform/EventLoop.h"
#include "platform/MessageBox.h"

class CClientSocket {
public:
    static constexpr int kBufferSize = 4096;
    static constexpr int kSlotCount = 10;
    static constexpr int kInvalidSocket = -1;
    // How long one connect attempt may wait for the peer before it counts as failed.
    static constexpr int kConnectTimeoutMs = 20000;

    struct PacketSlot {
        std::int32_t InUse = 0;
        std::int32_t Length = 0;
        std::uint8_t Data[kBufferSize];
    };

    enum QueueResult : int { kQueued = 0, kQueueFull = 1, kPacketTooLong = 2 };

    enum class ReceiveStatus {
        Received,    // bytes arrived (and were framed)
        NothingNow,  // would block, or interrupted
        PeerClosed,  // orderly end of stream
        Failed,      // a receive error
        BufferFull,  // no room left: a packet longer than the buffer stalls the stream
    };

    // Text of message number N of the text table, as bytes.
    using TextSource = std::function<std::string(int number)>;
    // GUI thread, after each ReceiveAndFrame that got bytes: drains the queue (NextPacket).
    using PacketHandler = std::function<void()>;

    CClientSocket();
    ~CClientSocket();
    CClientSocket(const CClientSocket&) = delete;
    CClientSocket& operator=(const CClientSocket&) = delete;

    // Where error messages go (messages 143 and 144, caption "Error"). Without a function
    // nothing is shown. Set before the connect thread starts.
    void SetMessageSink(MessageBoxFunction showMessage, TextSource getText);

    // No socket library to start on this platform: always true, and nothing changes.
    bool Initialize();
    // Connect thread. Creates the IPv4 stream socket; `loop` receives its events once
    // connected and `onPackets` runs after every receive. False (with message 143) when no
    // socket can be made.
    bool CreateSocket(EventLoop& loop, PacketHandler onPackets);
    // Connect thread. Resolves `host` (an IPv4 or IPv6 address, else a host name) and connects.
    // Returns once connected, failed, timed out or abandoned; a true result has handed the
    // socket to the GUI thread.
    bool Connect(const char* host, std::uint16_t port);
    // Any thread. Why the last Connect failed, for people: "connection refused", "timed out
    // after 20 s", "host name not found", "cannot create a socket: ..."; empty after success.
    std::string LastConnectError() const;
    // Any thread. The running Connect and every later one fail at once, even one still waiting
    // for its host-name lookup. For shutting down.
    void AbandonConnects();
    // Replaces the system resolver used for host names (before the connect thread starts).
    void SetResolver(HostResolver resolver) { resolver_ = std::move(resolver); }

    // GUI thread. True when all bytes went out at once; false when they were buffered or the
    // connection was dropped.
    bool Send(const void* bytes, int length);
    // GUI thread, when the socket is writable. False when the connection was dropped.
    bool FlushSendBuffer();
    // GUI thread, when the socket is readable: reads what is there and queues every packet.
    ReceiveStatus ReceiveAndFrame();
    // Takes bytes that arrived by other means (a test, a fuzzer) exactly as ReceiveAndFrame
    // takes received ones; returns how many fitted into the receive buffer.
    int FeedReceived(const std::uint8_t* bytes, int count);
    // 0 stored, 1 queue full, 2 longer than a slot. The packet is copied whole.
    int QueuePacket(const std::uint8_t* bytes, int length);
    // Next queued packet (lowest slot first) or nullptr; `length` gets its byte count. The
    // data stays valid until the next QueuePacket.
    const std::uint8_t* NextPacket(int* length = nullptr);
    // GUI thread. Closes the socket (or abandons a connect in progress). Buffers and queue
    // stay as they are.
    void Close();

    // GUI thread: the readiness callback the watch calls.
    void OnSocketEvent(unsigned readiness);

    bool IsOpen() const { return socket_.load() != kInvalidSocket; }
    int SendBufferLength() const { return sendLength_; }
    int RecvBufferLength() const { return recvLength_; }

private:
    enum class Phase { Idle, Created, Connecting, Connected };

    void ShowError(int messageNumber, bool withNumber, int number);
    void CloseLocked();
    void RegisterWatch(std::uint64_t generation);
    void UpdateInterest();
    void StopWatching();
    void DiscardReceiveBuffer() { recvLength_ = 0; }
    void FrameReceived();

    EventLoop* notifyLoop_ = nullptr;
    std::atomic<int> socket_{kInvalidSocket};
    std::uint8_t sendBuffer_[kBufferSize];
    std::int32_t sendLength_ = 0;
    std::uint8_t recvBuffer_[kBufferSize];
    std::int32_t recvLength_ = 0;
    PacketSlot slots_[kSlotCount];

    PacketHandler onPackets_;
    MessageBoxFunction showMessage_;
    TextSource getText_;

    mutable std::mutex mutex_;  // hand-over of the descriptor between the connect and GUI threads
    std::string lastConnectError_;
    Phase phase_ = Phase::Idle;
    bool attemptAbandoned_ = false;
    std::atomic<bool> abandonAll_{false};
    std::uint64_t generation_ = 0;  // bumped by every Close; stale registrations see it
    EventLoop::WatchId watch_ = 0;
    bool watching_ = false;
    bool readPaused_ = false;
    HostResolver resolver_ = SystemResolveHost;
};
