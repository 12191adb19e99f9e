#include "ConnectdServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "ConnectdSession.h"

namespace {

using Millis = std::int64_t;

// A client that has this much output waiting is not reading what it asked for.
constexpr std::size_t kMaxPendingOutput = 16 * 1024;
// How long accepting pauses when the process is out of descriptors.
constexpr Millis kAcceptPauseMs = 100;
// Refusals are logged at most this often, with a count of those left out.
constexpr Millis kRefusalLogIntervalMs = 1000;
// Descriptors kept free for the listener, the epoll set, the signals and the log.
constexpr int kSpareDescriptors = 16;

Millis NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void LogLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

struct Peer {
    std::string Text;    // "127.0.0.1:40112", "[::1]:40112"
    std::string CapKey;  // the IPv4 address, or the IPv6 /64 network, as raw bytes
};

Peer DescribePeer(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    Peer peer;
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
        peer.Text = std::string(host) + ":" + std::to_string(ntohs(in.sin_port));
        peer.CapKey.assign(reinterpret_cast<const char*>(&in.sin_addr), 4);
    } else if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        const auto* bytes = reinterpret_cast<const char*>(&in6.sin6_addr);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        peer.Text = "[" + std::string(host) + "]:" + std::to_string(ntohs(in6.sin6_port));
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            peer.CapKey.assign(bytes + 12, 4);  // the same player as over IPv4
        } else {
            // One subscriber gets a whole /64 and can pick any address in it.
            peer.CapKey = std::string(bytes, 8) + "/64";
        }
    }
    return peer;
}

struct Connection {
    Connection(int fd, Peer peer, std::shared_ptr<const ConnectdSettings> settings,
               std::function<void(const std::string&)> trace, Millis now)
        : Fd(fd),
          Who(std::move(peer)),
          Session(std::move(settings), std::move(trace)),
          ConnectedAt(now),
          LastActivityAt(now) {}

    int Fd;
    Peer Who;
    ConnectdSession Session;
    std::vector<OutgoingPiece> Queue;  // not yet written; the front may be partly written
    std::size_t FrontOffset = 0;
    std::size_t QueuedBytes = 0;
    Millis ConnectedAt;
    Millis LastActivityAt;  // last byte received or piece written
    Millis LastWriteAt = 0;
    bool WatchingWrites = false;
    std::multimap<Millis, Connection*>::iterator Timer;
    bool HasTimer = false;
};

class Server {
public:
    Server(const ConnectdOptions& options, ConnectdSettings settings)
        : options_(options), settings_(std::make_shared<ConnectdSettings>(std::move(settings))) {}

    ~Server() {
        for (auto& [fd, connection] : connections_) ::close(fd);
        for (int fd : {listener_, signals_, epoll_}) {
            if (fd >= 0) ::close(fd);
        }
    }

    int Run() {
        if (!SetUp()) return 1;
        std::vector<epoll_event> events(256);
        while (!stopping_) {
            const int count =
                ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), NextWaitMs());
            if (count < 0 && errno != EINTR) {
                LogLine("torvane-connectd: " + SystemError("epoll_wait"));
                return 1;
            }
            for (int i = 0; i < count && !stopping_; ++i) Dispatch(events[i]);
            RunTimers();
        }
        CloseAll("server stopping");
        return 0;
    }

private:
    bool SetUp() {
        RaiseDescriptorLimit();
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) {
            LogLine("torvane-connectd: " + SystemError("epoll_create1"));
            return false;
        }
        sigset_t mask;
        sigemptyset(&mask);
        for (int signal : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&mask, signal);
        ::sigprocmask(SIG_BLOCK, &mask, nullptr);
        signals_ = ::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
        if (signals_ < 0 || !Watch(signals_, EPOLLIN)) {
            LogLine("torvane-connectd: " + SystemError("signalfd"));
            return false;
        }
        return Listen();
    }

    void RaiseDescriptorLimit() {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
        const rlim_t wanted = static_cast<rlim_t>(options_.MaxConnections) + kSpareDescriptors;
        if (limit.rlim_cur < wanted) {
            limit.rlim_cur = std::min(wanted, limit.rlim_max);
            ::setrlimit(RLIMIT_NOFILE, &limit);
            ::getrlimit(RLIMIT_NOFILE, &limit);
        }
        if (limit.rlim_cur < wanted) {
            maxConnections_ = static_cast<int>(limit.rlim_cur) - kSpareDescriptors;
            LogLine("torvane-connectd: the descriptor limit is " + std::to_string(limit.rlim_cur) +
                    ", so at most " + std::to_string(maxConnections_) +
                    " connections are served at once");
        }
    }

    bool Listen() {
        std::string host = options_.ListenAddress;
        if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);
        }
        sockaddr_storage address{};
        socklen_t size = 0;
        auto& in = reinterpret_cast<sockaddr_in&>(address);
        auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
        const auto port = htons(static_cast<std::uint16_t>(options_.Port));
        if (::inet_pton(AF_INET, host.c_str(), &in.sin_addr) == 1) {
            in.sin_family = AF_INET;
            in.sin_port = port;
            size = sizeof in;
        } else if (::inet_pton(AF_INET6, host.c_str(), &in6.sin6_addr) == 1) {
            in6.sin6_family = AF_INET6;
            in6.sin6_port = port;
            size = sizeof in6;
        } else {
            LogLine("torvane-connectd: --listen " + options_.ListenAddress +
                    ": not an IPv4 or IPv6 address");
            return false;
        }
        const std::string where = options_.ListenAddress + " port " + std::to_string(options_.Port);
        listener_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        if (listener_ >= 0) ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener_, SOMAXCONN) != 0 || !Watch(listener_, EPOLLIN)) {
            LogLine("torvane-connectd: cannot listen on " + where + ": " + std::strerror(errno));
            return false;
        }
        size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        const unsigned bound = ntohs(address.ss_family == AF_INET ? in.sin_port : in6.sin6_port);
        std::printf("listening %u\n", bound);
        std::fflush(stdout);
        LogLine("listening on " + host + " port " + std::to_string(bound) + "; at most " +
                std::to_string(maxConnections_) + " connections, " +
                std::to_string(options_.MaxPerAddress) + " per address");
        return true;
    }

    bool Watch(int fd, std::uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
    }

    void Dispatch(const epoll_event& event) {
        const int fd = event.data.fd;
        if (fd == listener_) {
            Accept();
            return;
        }
        if (fd == signals_) {
            OnSignal();
            return;
        }
        const auto found = connections_.find(fd);
        if (found == connections_.end()) return;
        Connection& connection = *found->second;
        if (event.events & EPOLLOUT) {
            if (!Flush(connection)) return;
        }
        if (event.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
            if (!Read(connection)) return;
        }
        Rearm(connection);
    }

    void Accept() {
        for (;;) {
            sockaddr_storage address{};
            socklen_t size = sizeof address;
            const int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&address), &size,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return;
                // Out of descriptors or memory: stop accepting for a moment rather than spin.
                LogLine("torvane-connectd: " + SystemError("accept") + "; pausing new connections");
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
                acceptPausedUntil_ = NowMs() + kAcceptPauseMs;
                return;
            }
            Peer peer = DescribePeer(address);
            if (static_cast<int>(connections_.size()) >= maxConnections_) {
                Refuse(fd, peer,
                       "the server holds " + std::to_string(maxConnections_) +
                           " connections, its cap");
                continue;
            }
            int& fromAddress = perAddress_[peer.CapKey];
            if (fromAddress >= options_.MaxPerAddress) {
                Refuse(fd, peer,
                       std::to_string(fromAddress) +
                           " connections from this address already, its cap");
                continue;
            }
            ++fromAddress;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::function<void(const std::string&)> trace;
            if (options_.TracePackets) trace = LogLine;
            auto connection =
                std::make_unique<Connection>(fd, std::move(peer), settings_, trace, NowMs());
            Connection& added = *connection;
            connections_.emplace(fd, std::move(connection));
            if (options_.TracePackets) LogLine("client " + added.Who.Text + " connected");
            if (!Watch(fd, EPOLLIN | EPOLLRDHUP)) {
                Close(added, SystemError("epoll_ctl"));
                continue;
            }
            Enqueue(added, added.Session.Start());
            if (Flush(added)) Rearm(added);
        }
    }

    void Refuse(int fd, const Peer& peer, const std::string& why) {
        ::close(fd);
        const Millis now = NowMs();
        if (now - lastRefusalLogAt_ < kRefusalLogIntervalMs) {
            ++refusalsNotLogged_;
            return;
        }
        std::string line = "refused " + peer.Text + ": " + why;
        if (refusalsNotLogged_ > 0) {
            line += " (and " + std::to_string(refusalsNotLogged_) +
                    (refusalsNotLogged_ == 1 ? " other" : " others") + " since the last such line)";
        }
        LogLine(line);
        lastRefusalLogAt_ = now;
        refusalsNotLogged_ = 0;
    }

    // Reads what arrived and answers it; false when the connection was closed.
    bool Read(Connection& connection) {
        std::uint8_t chunk[ConnectdSession::kReceiveCapacity];
        for (;;) {
            const ssize_t n = ::recv(connection.Fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
            if (n < 0) {
                Close(connection, SystemError("receive failed"));
                return false;
            }
            if (n == 0) {
                Close(connection, "client closed");
                return false;
            }
            connection.LastActivityAt = NowMs();
            std::vector<OutgoingPiece> replies;
            const auto input =
                connection.Session.Receive(chunk, static_cast<std::size_t>(n), replies);
            if (input == ConnectdSession::Input::TooLong) {
                Close(connection, "sent a packet longer than " +
                                      std::to_string(ConnectdSession::kReceiveCapacity) + " bytes");
                return false;
            }
            Enqueue(connection, std::move(replies));
            if (connection.QueuedBytes > kMaxPendingOutput) {
                Close(connection, "not reading its replies (" +
                                      std::to_string(connection.QueuedBytes) + " bytes waiting)");
                return false;
            }
            if (!Flush(connection)) return false;
        }
    }

    void Enqueue(Connection& connection, std::vector<OutgoingPiece> pieces) {
        for (OutgoingPiece& piece : pieces) {
            connection.QueuedBytes += piece.Bytes.size();
            connection.Queue.push_back(std::move(piece));
        }
    }

    // Writes the pieces that are due; false when the connection was closed.
    bool Flush(Connection& connection) {
        const Millis now = NowMs();
        while (!connection.Queue.empty()) {
            OutgoingPiece& piece = connection.Queue.front();
            if (connection.FrontOffset == 0 && piece.DelayMs > 0 &&
                now < connection.LastWriteAt + piece.DelayMs) {
                break;  // paced: the timer sends it
            }
            const ssize_t n = ::send(connection.Fd, piece.Bytes.data() + connection.FrontOffset,
                                     piece.Bytes.size() - connection.FrontOffset, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0) {
                Close(connection, SystemError("send failed"));
                return false;
            }
            connection.FrontOffset += static_cast<std::size_t>(n);
            connection.QueuedBytes -= static_cast<std::size_t>(n);
            if (connection.FrontOffset == piece.Bytes.size()) {
                connection.Queue.erase(connection.Queue.begin());
                connection.FrontOffset = 0;
                connection.LastWriteAt = now;
                connection.LastActivityAt = now;
            }
        }
        // Ask for writability only while the kernel's buffer is what holds us up.
        const bool blocked = !connection.Queue.empty() &&
                             (connection.FrontOffset > 0 || connection.Queue.front().DelayMs == 0 ||
                              now >= connection.LastWriteAt + connection.Queue.front().DelayMs);
        if (blocked != connection.WatchingWrites) {
            epoll_event event{};
            event.events = EPOLLIN | EPOLLRDHUP | (blocked ? EPOLLOUT : 0u);
            event.data.fd = connection.Fd;
            ::epoll_ctl(epoll_, EPOLL_CTL_MOD, connection.Fd, &event);
            connection.WatchingWrites = blocked;
        }
        return true;
    }

    // When the connection next needs attention: a paced piece, or its time-out.
    Millis Deadline(const Connection& connection) const {
        const Millis timeout =
            connection.Session.Answered()
                ? connection.LastActivityAt + Millis{options_.IdleTimeoutSeconds} * 1000
                : connection.ConnectedAt + Millis{options_.GreetingTimeoutSeconds} * 1000;
        if (!connection.Queue.empty() && connection.FrontOffset == 0 &&
            connection.Queue.front().DelayMs > 0) {
            return std::min(timeout, connection.LastWriteAt + connection.Queue.front().DelayMs);
        }
        return timeout;
    }

    void Rearm(Connection& connection) {
        if (connection.HasTimer) timers_.erase(connection.Timer);
        connection.Timer = timers_.emplace(Deadline(connection), &connection);
        connection.HasTimer = true;
    }

    int NextWaitMs() const {
        Millis next = -1;
        if (!timers_.empty()) next = timers_.begin()->first;
        if (acceptPausedUntil_ > 0 && (next < 0 || acceptPausedUntil_ < next)) {
            next = acceptPausedUntil_;
        }
        if (next < 0) return -1;
        return static_cast<int>(std::clamp<Millis>(next - NowMs(), 0, 60000));
    }

    void RunTimers() {
        const Millis now = NowMs();
        if (acceptPausedUntil_ > 0 && now >= acceptPausedUntil_) {
            acceptPausedUntil_ = 0;
            Watch(listener_, EPOLLIN);
        }
        while (!stopping_ && !timers_.empty() && timers_.begin()->first <= now) {
            Connection& connection = *timers_.begin()->second;
            timers_.erase(timers_.begin());
            connection.HasTimer = false;
            if (!Flush(connection)) continue;
            if (connection.Session.Answered() &&
                now >= connection.LastActivityAt + Millis{options_.IdleTimeoutSeconds} * 1000) {
                Close(connection, "idle for " + std::to_string(options_.IdleTimeoutSeconds) + " s");
                continue;
            }
            if (!connection.Session.Answered() &&
                now >= connection.ConnectedAt + Millis{options_.GreetingTimeoutSeconds} * 1000) {
                Close(connection, "greeting not answered within " +
                                      std::to_string(options_.GreetingTimeoutSeconds) + " s");
                continue;
            }
            Rearm(connection);
        }
    }

    void OnSignal() {
        signalfd_siginfo info{};
        while (::read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGHUP) {
                Reload();
            } else {
                LogLine("signal " + std::to_string(info.ssi_signo) + ": stopping");
                stopping_ = true;
            }
        }
    }

    void Reload() {
        if (options_.ConfigPath.empty()) {
            LogLine("SIGHUP: no settings file to re-read (started without --config)");
            return;
        }
        std::string error;
        auto loaded = LoadServerSettings(options_, &error);
        if (!loaded) {
            LogLine("SIGHUP: " + error + "; the settings in force stay");
            return;
        }
        settings_ = std::make_shared<ConnectdSettings>(std::move(*loaded));
        LogLine("SIGHUP: re-read " + options_.ConfigPath + "; new connections get its settings, " +
                std::to_string(connections_.size()) + " open ones keep theirs");
    }

    void Close(Connection& connection, const std::string& reason) {
        const double seconds = static_cast<double>(NowMs() - connection.ConnectedAt) / 1000.0;
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.3f s", seconds);
        LogLine("session " + connection.Who.Text + ": " + connection.Session.Summary() + "; " +
                duration + "; " + reason);
        if (connection.HasTimer) timers_.erase(connection.Timer);
        const auto fromAddress = perAddress_.find(connection.Who.CapKey);
        if (fromAddress != perAddress_.end() && --fromAddress->second <= 0) {
            perAddress_.erase(fromAddress);
        }
        const int fd = connection.Fd;
        ::close(fd);
        connections_.erase(fd);  // destroys `connection`
        ++sessionsEnded_;
        if (options_.MaxSessions > 0 && sessionsEnded_ >= options_.MaxSessions) stopping_ = true;
    }

    void CloseAll(const std::string& reason) {
        while (!connections_.empty()) Close(*connections_.begin()->second, reason);
    }

    ConnectdOptions options_;
    std::shared_ptr<const ConnectdSettings> settings_;
    int maxConnections_ = options_.MaxConnections;
    int epoll_ = -1;
    int listener_ = -1;
    int signals_ = -1;
    std::unordered_map<int, std::unique_ptr<Connection>> connections_;
    std::unordered_map<std::string, int> perAddress_;
    std::multimap<Millis, Connection*> timers_;
    Millis acceptPausedUntil_ = 0;
    Millis lastRefusalLogAt_ = -kRefusalLogIntervalMs;
    long refusalsNotLogged_ = 0;
    long sessionsEnded_ = 0;
    bool stopping_ = false;
};

}  // namespace

std::optional<ConnectdSettings> LoadServerSettings(const ConnectdOptions& options,
                                                   std::string* error) {
    ConnectdSettings settings;
    if (!options.ConfigPath.empty()) {
        auto loaded = LoadConnectdSettings(options.ConfigPath, error);
        if (!loaded) return std::nullopt;
        settings = std::move(*loaded);
    }
    if (options.Misbehave) settings.Misbehave = *options.Misbehave;
    return settings;
}

int RunConnectdServer(const ConnectdOptions& options, ConnectdSettings settings) {
    return Server(options, std::move(settings)).Run();
}
