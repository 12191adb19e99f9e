#include "net/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

void HostAddress::SetPort(std::uint16_t port) {
    if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&Storage)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = htons(port);
}

namespace {

// `address` (a sockaddr_in or sockaddr_in6) as a HostAddress.
template <typename SocketAddress>
HostAddress Holding(const SocketAddress& address) {
    static_assert(sizeof(SocketAddress) <= sizeof(sockaddr_storage));
    HostAddress result;
    std::memcpy(&result.Storage, &address, sizeof address);
    result.Length = sizeof address;
    return result;
}

}  // namespace

HostAddress HostAddress::Ipv4(in_addr address) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_addr = address;
    return Holding(ipv4);
}

HostAddress HostAddress::Ipv6(const in6_addr& address) {
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_addr = address;
    return Holding(ipv6);
}

bool SystemResolveHost(const std::string& host, HostAddress* address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return false;
    const addrinfo* ipv4 = nullptr;
    const addrinfo* ipv6 = nullptr;
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in) && !ipv4)
            ipv4 = entry;
        if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6) && !ipv6)
            ipv6 = entry;
    }
    if (ipv4 != nullptr)
        *address = HostAddress::Ipv4(reinterpret_cast<const sockaddr_in*>(ipv4->ai_addr)->sin_addr);
    else if (ipv6 != nullptr)
        *address =
            HostAddress::Ipv6(reinterpret_cast<const sockaddr_in6*>(ipv6->ai_addr)->sin6_addr);
    ::freeaddrinfo(result);
    return ipv4 != nullptr || ipv6 != nullptr;
}

namespace {

bool ParseLiteral(const std::string& host, HostAddress* address) {
    const in_addr_t literal = ::inet_addr(host.c_str());
    if (literal != INADDR_NONE) {
        in_addr ipv4{};
        ipv4.s_addr = literal;
        *address = HostAddress::Ipv4(ipv4);
        return true;
    }
    std::string text = host;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    in6_addr ipv6{};
    if (::inet_pton(AF_INET6, text.c_str(), &ipv6) == 1) {
        *address = HostAddress::Ipv6(ipv6);
        return true;
    }
    return false;
}

}  // namespace

bool LookupHost(const std::string& host, HostAddress* address, const HostResolver& resolver,
                const std::function<bool()>& abandoned) {
    if (ParseLiteral(host, address)) return true;
    if (!resolver) return false;
    // Shared with the lookup's thread, which may outlive this call.
    struct Lookup {
        std::mutex Mutex;
        std::condition_variable Done;
        bool Finished = false;
        bool Found = false;
        HostAddress Address{};
    };
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, resolver] {
            HostAddress found{};
            const bool ok = resolver(host, &found);
            std::lock_guard<std::mutex> lock(lookup->Mutex);
            lookup->Finished = true;
            lookup->Found = ok;
            lookup->Address = found;
            lookup->Done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return resolver(host, address);  // no thread to spare: wait for the lookup here
    }
    std::unique_lock<std::mutex> lock(lookup->Mutex);
    while (!lookup->Finished) {
        if (abandoned && abandoned()) return false;
        lookup->Done.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (lookup->Found) *address = lookup->Address;
    return lookup->Found;
}
