#include "net/ClientSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/HostLookup.h"
#include "net/MessageFormat.h"
#include "net/PacketFrame.h"
#include "text/MessageNumbers.h"

namespace {

constexpr const char* kErrorCaption = "Error";
// The connect wait is cut into slices so that an abandoned attempt ends promptly.
constexpr int kConnectSliceMs = 50;

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Puts a fresh socket of `family` under descriptor `fd`, close-on-exec like the first.
bool ReplaceFamily(int fd, int family) {
    const int fresh = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fresh < 0) return false;
    const bool replaced = ::dup3(fresh, fd, O_CLOEXEC) == fd;
    ::close(fresh);
    return replaced;
}

}  // namespace

CClientSocket::CClientSocket() {
    for (PacketSlot& slot : slots_) {
        slot.InUse = 0;
        slot.Length = 0;
        std::memset(slot.Data, 0, sizeof slot.Data);
    }
    std::memset(sendBuffer_, 0, sizeof sendBuffer_);
    std::memset(recvBuffer_, 0, sizeof recvBuffer_);
}

CClientSocket::~CClientSocket() {
    // The event loop may already be gone at this point: only the descriptor is released.
    const int fd = socket_.exchange(kInvalidSocket);
    if (fd >= 0 && phase_ != Phase::Connecting) ::close(fd);
}

void CClientSocket::SetMessageSink(MessageBoxFunction showMessage, TextSource getText) {
    std::lock_guard<std::mutex> lock(mutex_);
    showMessage_ = std::move(showMessage);
    getText_ = std::move(getText);
}

void CClientSocket::ShowError(int messageNumber, bool withNumber, int number) {
    MessageBoxFunction show;
    std::string text;
    EventLoop* loop = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        show = showMessage_;
        if (getText_) text = getText_(messageNumber);
        loop = notifyLoop_;
    }
    if (!show) return;
    if (withNumber) text = FormatWithNumber(text, number);
    if (loop != nullptr) {
        loop->Post([show, text] { show(text, kErrorCaption, MessageBoxIcon::None); });
    } else {
        show(text, kErrorCaption, MessageBoxIcon::None);
    }
}

bool CClientSocket::Initialize() {
    // Nothing to start here. "No socket yet" is -1, never 0: descriptor 0 is a real one.
    return true;
}

bool CClientSocket::CreateSocket(EventLoop& loop, PacketHandler onPackets) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (phase_ == Phase::Connecting || phase_ == Phase::Connected) return false;
    if (phase_ == Phase::Created) {
        // An earlier attempt's unused socket: release it rather than leak it.
        const int old = socket_.exchange(kInvalidSocket);
        if (old >= 0) ::close(old);
        phase_ = Phase::Idle;
    }
    notifyLoop_ = &loop;
    onPackets_ = std::move(onPackets);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        lock.unlock();
        ShowError(kMsgSocketFailed, true, error);
        return false;
    }
    socket_ = fd;
    phase_ = Phase::Created;
    return true;
}

void CClientSocket::AbandonConnects() {
    abandonAll_ = true;
}

bool CClientSocket::Connect(const char* host, std::uint16_t port) {
    auto failed = [this](std::string why) {
        std::lock_guard<std::mutex> lock(mutex_);
        lastConnectError_ = std::move(why);
        return false;
    };
    if (abandonAll_) return failed("abandoned: the launcher is closing");
    EventLoop* loop = nullptr;
    PacketHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loop = notifyLoop_;
        handler = onPackets_;
    }
    if (loop == nullptr) {
        ShowError(kMsgSocketNoWindow, false, 0);
        return failed("no window to receive the connection's events");
    }
    if (!IsOpen() && !CreateSocket(*loop, std::move(handler)))
        return failed(std::string("cannot create a socket: ") + std::strerror(errno));

    HostAddress address;
    // A lookup that hangs is given up when the window closes or the socket is closed.
    auto abandoned = [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return abandonAll_.load() || phase_ != Phase::Created;
    };
    if (host == nullptr || !LookupHost(host, &address, resolver_, abandoned)) {
        return failed(abandoned() ? "abandoned: the launcher is closing" : "host name not found");
    }
    address.SetPort(port);

    int fd;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd = socket_.load();
        if (phase_ != Phase::Created || fd < 0) return false;  // closed meanwhile
        // The socket was made for IPv4 before the address was known; an IPv6 connect server
        // gets a socket of its kind under the same descriptor number.
        if (address.Family() != AF_INET && !ReplaceFamily(fd, address.Family())) return false;
        phase_ = Phase::Connecting;
        attemptAbandoned_ = false;
    }

    bool connected = false;
    std::string why = "timed out after " + std::to_string(kConnectTimeoutMs / 1000) + " s";
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0) {
        if (::connect(fd, address.Address(), address.Length) == 0) {
            connected = true;
        } else if (errno != EINPROGRESS && errno != EINTR) {
            why = std::strerror(errno);
        } else {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (attemptAbandoned_ || abandonAll_) break;
                }
                if (std::chrono::steady_clock::now() >= deadline) break;
                pollfd pfd{fd, POLLOUT, 0};
                const int n = ::poll(&pfd, 1, kConnectSliceMs);
                if (n < 0 && errno != EINTR) {
                    why = std::strerror(errno);
                    break;
                }
                if (n > 0) {
                    int error = 0;
                    socklen_t size = sizeof error;
                    connected =
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
                    if (!connected) why = std::strerror(error != 0 ? error : errno);
                    break;
                }
            }
        }
    }

    std::lock_guard<std::mutex> lock(mutex_);
    if (attemptAbandoned_ || abandonAll_ || !connected) {
        ::close(fd);
        int expected = fd;
        socket_.compare_exchange_strong(expected, kInvalidSocket);
        phase_ = Phase::Idle;
        lastConnectError_ = connected ? "abandoned" : why;
        attemptAbandoned_ = false;
        return false;
    }
    lastConnectError_.clear();
    phase_ = Phase::Connected;
    const std::uint64_t generation = generation_;
    // The watch belongs to the GUI thread; Close there before this runs makes it a no-op.
    notifyLoop_->Post([this, generation] { RegisterWatch(generation); });
    return true;
}

std::string CClientSocket::LastConnectError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastConnectError_;
}

void CClientSocket::RegisterWatch(std::uint64_t generation) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_ || phase_ != Phase::Connected || watching_) return;
    const int fd = socket_.load();
    if (fd < 0 || notifyLoop_ == nullptr) return;
    readPaused_ = false;
    const unsigned interest = EventLoop::Readable | (sendLength_ > 0 ? EventLoop::Writable : 0u);
    watch_ = notifyLoop_->WatchSocket(fd, interest, [this](unsigned r) { OnSocketEvent(r); });
    watching_ = true;
}

void CClientSocket::UpdateInterest() {
    if (!watching_ || notifyLoop_ == nullptr) return;
    const unsigned interest = (readPaused_ ? 0u : unsigned{EventLoop::Readable}) |
                              (sendLength_ > 0 ? unsigned{EventLoop::Writable} : 0u);
    notifyLoop_->SetInterest(watch_, interest);
}

void CClientSocket::StopWatching() {
    if (!watching_) return;
    watching_ = false;
    if (notifyLoop_ != nullptr) notifyLoop_->Unwatch(watch_);
}

void CClientSocket::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
}

void CClientSocket::CloseLocked() {
    ++generation_;
    if (phase_ == Phase::Connecting) {
        // The connect thread still waits on the descriptor; it closes it when it sees this.
        attemptAbandoned_ = true;
        socket_ = kInvalidSocket;
        return;
    }
    StopWatching();
    const int fd = socket_.exchange(kInvalidSocket);
    if (fd >= 0) ::close(fd);
    phase_ = Phase::Idle;
}

bool CClientSocket::Send(const void* bytes, int length) {
    const int fd = socket_.load();
    if (fd < 0 || length < 0 || (bytes == nullptr && length > 0)) return false;
    const auto* data = static_cast<const std::uint8_t*>(bytes);

    // Bytes still waiting must leave first, or the new packet would overtake them.
    if (sendLength_ > 0) {
        if (!FlushSendBuffer()) return false;
        if (sendLength_ > 0) {
            if (sendLength_ + length > kBufferSize) {
                Close();
                return false;
            }
            std::memcpy(sendBuffer_ + sendLength_, data, static_cast<std::size_t>(length));
            sendLength_ += length;
            UpdateInterest();
            return false;
        }
    }

    int sent = 0;
    while (sent < length) {
        const ssize_t n =
            ::send(fd, data + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n == 0) return true;
        if (errno == EINTR) continue;
        if (WouldBlock(errno)) {
            // The test counts the whole packet, not only its unsent rest.
            if (sendLength_ + length > kBufferSize) {
                Close();
                return false;
            }
            const int rest = length - sent;
            std::memcpy(sendBuffer_ + sendLength_, data + sent, static_cast<std::size_t>(rest));
            sendLength_ += rest;
            UpdateInterest();
            return false;
        }
        Close();
        return false;
    }
    return true;
}

bool CClientSocket::FlushSendBuffer() {
    const int fd = socket_.load();
    if (fd < 0) return false;
    while (sendLength_ > 0) {
        const ssize_t n =
            ::send(fd, sendBuffer_, static_cast<std::size_t>(sendLength_), MSG_NOSIGNAL);
        if (n > 0) {
            sendLength_ -= static_cast<std::int32_t>(n);
            std::memmove(sendBuffer_, sendBuffer_ + n, static_cast<std::size_t>(sendLength_));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && WouldBlock(errno)) {
            UpdateInterest();
            return true;
        }
        Close();
        return false;
    }
    UpdateInterest();
    return true;
}

CClientSocket::ReceiveStatus CClientSocket::ReceiveAndFrame() {
    const int fd = socket_.load();
    if (fd < 0) return ReceiveStatus::Failed;
    const int room = kBufferSize - recvLength_;
    if (room <= 0) return ReceiveStatus::BufferFull;
    const ssize_t n = ::recv(fd, recvBuffer_ + recvLength_, static_cast<std::size_t>(room), 0);
    if (n == 0) return ReceiveStatus::PeerClosed;
    if (n < 0) {
        return (errno == EINTR || WouldBlock(errno)) ? ReceiveStatus::NothingNow
                                                     : ReceiveStatus::Failed;
    }
    recvLength_ += static_cast<std::int32_t>(n);
    // Fewer than three bytes wait for more, even when they would already make a packet.
    if (recvLength_ < 3) return ReceiveStatus::Received;
    FrameReceived();
    return ReceiveStatus::Received;
}

int CClientSocket::FeedReceived(const std::uint8_t* bytes, int count) {
    const int room = kBufferSize - recvLength_;
    const int taken = count < 0 ? 0 : (count < room ? count : room);
    if (taken == 0) return 0;
    std::memcpy(recvBuffer_ + recvLength_, bytes, static_cast<std::size_t>(taken));
    recvLength_ += taken;
    if (recvLength_ >= 3) FrameReceived();
    return taken;
}

void CClientSocket::FrameReceived() {
    std::size_t position = 0;
    for (;;) {
        std::size_t length = 0;
        const auto status = packetframe::PeekFrame(recvBuffer_ + position,
                                                   static_cast<std::size_t>(recvLength_), &length);
        switch (status) {
            case packetframe::FrameStatus::BadHead:
            case packetframe::FrameStatus::ZeroLength:
                // Nothing after this point can be framed again: start afresh.
                DiscardReceiveBuffer();
                return;
            case packetframe::FrameStatus::NeedMore:
                if (position > 0) {
                    std::memmove(recvBuffer_, recvBuffer_ + position,
                                 static_cast<std::size_t>(recvLength_));
                }
                return;
            case packetframe::FrameStatus::Complete:
                // A full queue or an oversize packet drops the packet; framing goes on.
                QueuePacket(recvBuffer_ + position, static_cast<int>(length));
                position += length;
                recvLength_ -= static_cast<std::int32_t>(length);
                if (recvLength_ == 0) return;
                break;
        }
    }
}

int CClientSocket::QueuePacket(const std::uint8_t* bytes, int length) {
    if (length > kBufferSize) return kPacketTooLong;
    if (length < 0) length = 0;
    for (PacketSlot& slot : slots_) {
        if (slot.InUse != 0) continue;
        slot.InUse = 1;
        slot.Length = length;
        if (length > 0) std::memcpy(slot.Data, bytes, static_cast<std::size_t>(length));
        return kQueued;
    }
    return kQueueFull;
}

const std::uint8_t* CClientSocket::NextPacket(int* length) {
    for (PacketSlot& slot : slots_) {
        if (slot.InUse == 0) continue;
        slot.InUse = 0;
        if (length != nullptr) *length = slot.Length;
        return slot.Data;
    }
    if (length != nullptr) *length = 0;
    return nullptr;
}

void CClientSocket::OnSocketEvent(unsigned readiness) {
    if (readiness & EventLoop::Readable) {
        const ReceiveStatus status = ReceiveAndFrame();
        if (onPackets_) onPackets_();
        // The handlers may have closed the connection.
        if (!watching_) return;
        if (status == ReceiveStatus::PeerClosed || status == ReceiveStatus::Failed) {
            // The launcher goes on with what it has; an ended stream must not keep the loop
            // spinning, so the watch goes while the socket stays for whoever closes it.
            StopWatching();
            return;
        }
        if (status == ReceiveStatus::BufferFull) {
            readPaused_ = true;
            UpdateInterest();
        }
    }
    if ((readiness & EventLoop::Writable) && watching_) FlushSendBuffer();
    if ((readiness & (EventLoop::Hangup | EventLoop::Error)) &&
        !(readiness & EventLoop::Readable) && watching_) {
        StopWatching();
    }
}
