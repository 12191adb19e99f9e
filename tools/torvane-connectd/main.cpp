// torvane-connectd: a development connect server. Greets every client, answers its server
// list and version requests from a settings file, and logs each packet as hex on stderr.
// Clients are served one after another.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ConnectdSession.h"
#include "ConnectdSettings.h"

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: torvane-connectd [--config FILE] [--port PORT] [--max-clients N]\n"
        "                        [--misbehave none|split|coalesce|bad_head|"
        "short_packet|zero_length]\n"
        "Listens on 127.0.0.1:PORT (0 picks a free port) and prints \"listening PORT\".\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string configPath;
    long port = 44405;
    long maxClients = -1;
    std::string misbehave;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string value = argv[++i];
        char* end = nullptr;
        if (arg == "--config") {
            configPath = value;
        } else if (arg == "--port") {
            port = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) return Usage();
        } else if (arg == "--max-clients") {
            maxClients = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || maxClients < 1) return Usage();
        } else if (arg == "--misbehave") {
            misbehave = value;
        } else {
            return Usage();
        }
    }

    ConnectdSettings settings;
    if (!configPath.empty()) {
        std::string error;
        auto loaded = LoadConnectdSettings(configPath, &error);
        if (!loaded) {
            std::fprintf(stderr, "torvane-connectd: %s\n", error.c_str());
            return 1;
        }
        settings = std::move(*loaded);
    }
    if (!misbehave.empty()) {
        const auto mode = ParseMisbehaviour(misbehave);
        if (!mode) return Usage();
        settings.Misbehave = *mode;
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        std::fprintf(stderr, "torvane-connectd: cannot listen on port %ld: %s\n", port,
                     std::strerror(errno));
        return 1;
    }
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::printf("listening %u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    std::fflush(stdout);

    for (long served = 0; maxClients < 0 || served < maxClients; ++served) {
        sockaddr_in peer{};
        socklen_t peerSize = sizeof peer;
        const int client = ::accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerSize);
        if (client < 0) {
            if (errno == EINTR) {
                --served;
                continue;
            }
            std::fprintf(stderr, "torvane-connectd: accept: %s\n", std::strerror(errno));
            return 1;
        }
        char peerText[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
        std::fprintf(stderr, "client %s:%u connected\n", peerText,
                     static_cast<unsigned>(ntohs(peer.sin_port)));
        RunConnectdSession(client, settings);
        ::close(client);
        std::fprintf(stderr, "client %s:%u closed\n", peerText,
                     static_cast<unsigned>(ntohs(peer.sin_port)));
        std::fflush(stderr);
    }
    ::close(listener);
    return 0;
}
