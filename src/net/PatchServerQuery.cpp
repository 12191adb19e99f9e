#include "net/PatchServerQuery.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "net/ConnectMessages.h"
#include "net/HostLookup.h"
#include "net/PacketFrame.h"

namespace {

using Clock = std::chrono::steady_clock;

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

bool SendAll(int fd, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<PatchServerAnswer> QueryPatchServer(const std::string& host, std::uint16_t port,
                                                  int timeoutMs, std::string& error) {
    const std::string where = "connect server " + host + ":" + std::to_string(port);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto remaining = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    };
    HostAddress address;
    if (!LookupHost(host, &address, SystemResolveHost, [&] { return remaining() == 0; })) {
        error = where + ": the name does not resolve";
        return std::nullopt;
    }
    address.SetPort(port);
    Socket socket(::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.Fd() < 0 || ::connect(socket.Fd(), address.Address(), address.Length) != 0) {
        error = where + ": cannot connect: " + std::strerror(errno);
        return std::nullopt;
    }

    std::vector<std::uint8_t> received;
    std::uint8_t buffer[4096];
    for (;;) {
        // Whole packets at the front are handled; the rest waits for more bytes.
        std::size_t length = 0;
        const auto status = packetframe::PeekFrame(received.data(), received.size(), &length);
        if (status == packetframe::FrameStatus::BadHead ||
            status == packetframe::FrameStatus::ZeroLength) {
            error = where + ": sent something that is not a packet";
            return std::nullopt;
        }
        if (status == packetframe::FrameStatus::Complete) {
            const std::uint8_t* packet = received.data();
            const int code = packetframe::PacketCode(packet, length);
            if (code == ConnectMessages::kGreeting) {
                if (length <= ConnectMessages::kGreetingResultOffset ||
                    packet[ConnectMessages::kGreetingResultOffset] != 1) {
                    error = where + ": the greeting refuses this client";
                    return std::nullopt;
                }
                static constexpr std::uint8_t kOldestVersion[6] = {0xC1, 0x06, 0x04, 0, 0, 0};
                if (!SendAll(socket.Fd(), kOldestVersion, sizeof kOldestVersion)) {
                    error = where + ": cannot send: " + std::strerror(errno);
                    return std::nullopt;
                }
            } else if (code == ConnectMessages::kHttpPatchServer ||
                       code == ConnectMessages::kFtpPatchServer ||
                       code == ConnectMessages::kFtpPatchServerWithList) {
                PatchServerAnswer answer;
                answer.Http = code == ConnectMessages::kHttpPatchServer;
                if (!PatchServerInfo::FromPacket(packet, length, &answer.Server)) {
                    error = where + ": its patch-server message is cut short";
                    return std::nullopt;
                }
                answer.Server.Decode();
                return answer;
            } else if (code == ConnectMessages::kGoAhead ||
                       code == ConnectMessages::kGoAheadWithList) {
                error = where + ": it names no patch server, even for version 0.0.0";
                return std::nullopt;
            }
            received.erase(received.begin(), received.begin() + static_cast<long>(length));
            continue;
        }
        pollfd pfd{socket.Fd(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remaining());
        if (ready == 0) {
            error =
                where + ": no patch server named within " + std::to_string(timeoutMs / 1000) + " s";
            return std::nullopt;
        }
        const ssize_t got = ready < 0 ? -1 : ::recv(socket.Fd(), buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            error = where + (got == 0 ? ": closed the connection"
                                      : ": receive failed: " + std::string(std::strerror(errno)));
            return std::nullopt;
        }
        if (received.size() + static_cast<std::size_t>(got) > (1u << 20)) {
            error = where + ": sent too much without naming a patch server";
            return std::nullopt;
        }
        received.insert(received.end(), buffer, buffer + got);
    }
}
