#include "net/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

bool SystemResolveIpv4(const std::string& host, in_addr* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return false;
    bool found = false;
    for (addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            *address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
            found = true;
            break;
        }
    }
    ::freeaddrinfo(result);
    return found;
}

bool LookupIpv4(const std::string& host, in_addr* address, const Ipv4Resolver& resolver,
                const std::function<bool()>& abandoned) {
    const in_addr_t literal = ::inet_addr(host.c_str());
    if (literal != INADDR_NONE) {
        address->s_addr = literal;
        return true;
    }
    if (!resolver) return false;
    // Shared with the lookup's thread, which may outlive this call.
    struct Lookup {
        std::mutex Mutex;
        std::condition_variable Done;
        bool Finished = false;
        bool Found = false;
        in_addr Address{};
    };
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, resolver] {
            in_addr found{};
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
