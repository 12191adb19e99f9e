#pragma once
// Host-name lookup for the connect thread. getaddrinfo cannot be interrupted, and with no
// network or an unreachable resolver it can take many seconds; the window must not wait that
// long to close. The lookup therefore runs on a thread of its own, and the caller stops
// waiting as soon as it gives up; the lookup's thread ends by itself later.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>

// An IPv4 or IPv6 address to connect to.
struct HostAddress {
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    int Family() const { return Storage.ss_family; }
    const sockaddr* Address() const { return reinterpret_cast<const sockaddr*>(&Storage); }
    void SetPort(std::uint16_t port);
    static HostAddress Ipv4(in_addr address);
    static HostAddress Ipv6(const in6_addr& address);
};

// Resolves `host` to an address; false when it has none.
using HostResolver = std::function<bool(const std::string& host, HostAddress* address)>;

// The system resolver (getaddrinfo). A name with both kinds of address gets its IPv4 one, as
// connect servers have always been reached; a name with IPv6 addresses only gets the first.
bool SystemResolveHost(const std::string& host, HostAddress* address);

// Address literals are taken as they stand: dotted IPv4 text (with the short forms inet_addr
// knows) and IPv6 text, bare or in brackets ("::1", "[::1]"). Any other name is resolved by
// `resolver` on a thread of its own while `abandoned` is asked about every 50 ms. False when
// the name does not resolve, or as soon as `abandoned` returns true.
bool LookupHost(const std::string& host, HostAddress* address, const HostResolver& resolver,
                const std::function<bool()>& abandoned);
