#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

LoopbackPeer::LoopbackPeer(int backlog, bool ipv6) {
    listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t size;
    if (ipv6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        size = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        size = sizeof *address;
    }
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if (listener_ < 0 || ::bind(listener_, address, size) != 0 ||
        ::listen(listener_, backlog) != 0) {
        if (listener_ >= 0) ::close(listener_);
        throw std::runtime_error(ipv6 ? "cannot listen on ::1" : "cannot listen on 127.0.0.1");
    }
    ::getsockname(listener_, address, &size);
    port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

LoopbackPeer::~LoopbackPeer() {
    if (accepted_ >= 0) ::close(accepted_);
    if (listener_ >= 0) ::close(listener_);
}

bool LoopbackPeer::Accept() {
    pollfd pfd{listener_, POLLIN, 0};
    if (::poll(&pfd, 1, 10000) != 1) return false;
    accepted_ = ::accept(listener_, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(accepted_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return accepted_ >= 0;
}

void LoopbackPeer::Write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(accepted_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("peer write failed");
        done += static_cast<std::size_t>(n);
    }
}

Bytes LoopbackPeer::Read(std::size_t count, int timeoutMs) {
    Bytes bytes;
    std::uint8_t chunk[65536];
    while (bytes.size() < count) {
        pollfd pfd{accepted_, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) != 1) break;
        const std::size_t want = std::min(sizeof chunk, count - bytes.size());
        const ssize_t n = ::recv(accepted_, chunk, want, 0);
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

Bytes LoopbackPeer::ReadAvailable(int timeoutMs) {
    Bytes bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        pollfd pfd{accepted_, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) != 1) break;
        const ssize_t n = ::recv(accepted_, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

ConnectedClient::ConnectedClient(CClientSocket* socket, const std::string& host)
    : peer_(16, host.find(':') != std::string::npos),
      own_(socket == nullptr ? std::make_unique<CClientSocket>() : nullptr),
      socket_(socket != nullptr ? socket : own_.get()) {
    socket_->Initialize();
    if (!socket_->CreateSocket(loop_, [this] {
            if (OnPackets) OnPackets();
        })) {
        throw std::runtime_error("CreateSocket failed");
    }
    if (!socket_->Connect(host.c_str(), static_cast<std::uint16_t>(peer_.Port()))) {
        throw std::runtime_error("Connect failed");
    }
    if (!peer_.Accept()) throw std::runtime_error("accept failed");
    loop_.RunFor(0);  // the watch is registered through a posted task
}

bool ConnectedClient::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        loop_.RunFor(10);
    }
    return true;
}

void ConnectedClient::PumpIdle() {
    while (loop_.RunFor(50) != 0) {
    }
}

std::vector<Bytes> ConnectedClient::DrainQueue() {
    std::vector<Bytes> packets;
    int length = 0;
    while (const std::uint8_t* data = socket_->NextPacket(&length)) {
        packets.emplace_back(data, data + length);
    }
    return packets;
}
