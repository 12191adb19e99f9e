// Load for the connect server: many launchers at once, each reading the greeting, sending the
// two requests and reading the server list and the patch-server message, on one epoll loop.
//
//   connect_load PORT CONCURRENT TOTAL SOURCES SERVER_PID
//
// Phase one opens CONCURRENT connections and holds each once it is answered, until all are:
// then the server really has CONCURRENT players at once, and its resident memory is read from
// /proc/SERVER_PID. Phase two runs TOTAL conversations, CONCURRENT in flight, each closed once
// answered, and reports sessions per second. Connections come from SOURCES loopback addresses
// (127.0.0.1, 127.0.0.2, ...), as players come from many addresses.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kGreetingSize = 4;
constexpr std::size_t kRepliesSize = 504 + 168;  // server list, FTP patch server
const std::uint8_t kRequests[] = {0xC1, 0x03, 0x09, 0xC1, 0x06, 0x04, 0x01, 0x00, 0x00};

struct Client {
    int Fd = -1;
    std::size_t Received = 0;
    bool Sent = false;
    bool Done = false;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long StatusKb(int pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

class Load {
public:
    Load(int port, int sources) : port_(port), sources_(sources) { epoll_ = ::epoll_create1(0); }

    bool Open(std::size_t slot) {
        Client& client = clients_[slot];
        client = Client{};
        client.Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7F000001u + static_cast<std::uint32_t>(opened_ % sources_));
        ::bind(client.Fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<std::uint16_t>(port_));
        server.sin_addr.s_addr = htonl(0x7F000001u);
        if (::connect(client.Fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 &&
            errno != EINPROGRESS) {
            std::fprintf(stderr, "connect: %s\n", std::strerror(errno));
            return false;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = slot;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, client.Fd, &event);
        ++opened_;
        return true;
    }

    // Runs until `wanted` conversations are done; `closeWhenDone` reopens the slot for the next.
    bool Run(std::size_t wanted, bool closeWhenDone, std::size_t total) {
        std::vector<epoll_event> events(1024);
        while (done_ < wanted) {
            const int count = ::epoll_wait(epoll_, events.data(), 1024, 30000);
            if (count <= 0) {
                std::fprintf(stderr, "stalled: %zu of %zu answered\n", done_, wanted);
                return false;
            }
            for (int i = 0; i < count; ++i) {
                const std::size_t slot = events[i].data.u64;
                if (!Step(slot)) return false;
                if (clients_[slot].Done && closeWhenDone) {
                    ::close(clients_[slot].Fd);
                    clients_[slot].Fd = -1;
                    if (opened_ < total && !Open(slot)) return false;
                }
            }
        }
        return true;
    }

    void CloseAll() {
        for (Client& client : clients_) {
            if (client.Fd >= 0) ::close(client.Fd);
            client.Fd = -1;
        }
    }

    void Resize(std::size_t slots) { clients_.resize(slots); }
    void ResetCount() {
        done_ = 0;
        opened_ = 0;
    }

private:
    bool Step(std::size_t slot) {
        Client& client = clients_[slot];
        std::uint8_t buffer[2048];
        const ssize_t n = ::recv(client.Fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) {
            std::fprintf(stderr, "connection %zu ended after %zu bytes: %s\n", slot,
                         client.Received, n == 0 ? "closed by the server" : std::strerror(errno));
            return false;
        }
        client.Received += static_cast<std::size_t>(n);
        if (!client.Sent && client.Received >= kGreetingSize) {
            client.Sent = true;
            ::send(client.Fd, kRequests, sizeof kRequests, MSG_NOSIGNAL);
        }
        if (!client.Done && client.Received >= kGreetingSize + kRepliesSize) {
            client.Done = true;
            ++done_;
        }
        return true;
    }

    int port_;
    int sources_;
    int epoll_;
    std::vector<Client> clients_;
    std::size_t opened_ = 0;
    std::size_t done_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: connect_load PORT CONCURRENT TOTAL SOURCES SERVER_PID\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::size_t concurrent = std::strtoul(argv[2], nullptr, 10);
    const std::size_t total = std::strtoul(argv[3], nullptr, 10);
    const int sources = std::atoi(argv[4]);
    const int serverPid = std::atoi(argv[5]);

    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    const long idleKb = StatusKb(serverPid, "VmRSS:");
    Load load(port, sources);
    load.Resize(concurrent);
    auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < concurrent; ++i) {
        if (!load.Open(i)) return 1;
    }
    if (!load.Run(concurrent, false, concurrent)) return 1;
    const double heldSeconds = Seconds(start);
    const long heldKb = StatusKb(serverPid, "VmRSS:");
    std::printf("concurrent: %zu clients answered and held in %.2f s\n", concurrent, heldSeconds);
    std::printf("server resident memory: %ld KiB idle, %ld KiB with %zu clients (%.2f KiB each)\n",
                idleKb, heldKb, concurrent,
                static_cast<double>(heldKb - idleKb) / static_cast<double>(concurrent));
    load.CloseAll();

    load.ResetCount();
    start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < concurrent && i < total; ++i) {
        if (!load.Open(i)) return 1;
    }
    if (!load.Run(total, true, total)) return 1;
    const double seconds = Seconds(start);
    std::printf("sessions: %zu in %.2f s, %.0f sessions/s with %zu in flight\n", total, seconds,
                static_cast<double>(total) / seconds, concurrent);
    std::printf("server peak resident memory: %ld KiB\n", StatusKb(serverPid, "VmHWM:"));
    load.CloseAll();
    return 0;
}
