#pragma once
// Host-name lookup for the connect thread. getaddrinfo cannot be interrupted, and with no
// network or an unreachable resolver it can take many seconds; the window must not wait that
// long to close. The lookup therefore runs on a thread of its own, and the caller stops
// waiting as soon as it gives up; the lookup's thread ends by itself later.

#include <netinet/in.h>

#include <functional>
#include <string>

// Resolves `host` to an IPv4 address; false when it has none.
using Ipv4Resolver = std::function<bool(const std::string& host, in_addr* address)>;

// The system resolver (getaddrinfo, IPv4 entries only).
bool SystemResolveIpv4(const std::string& host, in_addr* address);

// Dotted IPv4 text is taken as it stands; any other name is resolved by `resolver` on a
// thread of its own while `abandoned` is asked about every 50 ms. False when the name does not
// resolve, or as soon as `abandoned` returns true.
bool LookupIpv4(const std::string& host, in_addr* address, const Ipv4Resolver& resolver,
                const std::function<bool()>& abandoned);
