#pragma once
// The connect server's event loop: one thread, one epoll set, every client a small
// non-blocking conversation. Bounded per connection (fixed receive buffer, capped pending
// output), with greeting and idle time-outs, a cap on connections in all and per address, and
// SIGHUP re-reading the settings file without touching the conversations under way.

#include <optional>
#include <string>

#include "ConnectdSettings.h"

struct ConnectdOptions {
    std::string ConfigPath;                   // empty: built-in settings, nothing to re-read
    std::string ListenAddress = "127.0.0.1";  // IPv4 or IPv6 literal
    long Port = 44405;                        // 0 picks a free port
    long MaxSessions = -1;                    // exit after this many sessions; -1: never
    int MaxConnections = 4096;
    int MaxPerAddress = 32;                 // per IPv4 address, per IPv6 /64 network
    int GreetingTimeoutSeconds = 10;        // from connecting to both requests answered
    int IdleTimeoutSeconds = 120;           // after that, nothing received for this long
    bool TracePackets = false;              // every packet on stderr as hex
    std::optional<Misbehaviour> Misbehave;  // overrides the settings file's
};

// Loads the settings file named in `options` (built-in settings when none is named) and
// applies the command line's overrides; nullopt with `error` set when the file is unusable.
std::optional<ConnectdSettings> LoadServerSettings(const ConnectdOptions& options,
                                                   std::string* error);

// Listens, prints "listening PORT" on stdout, serves until SIGTERM or SIGINT (or MaxSessions).
// Returns the process's exit status.
int RunConnectdServer(const ConnectdOptions& options, ConnectdSettings settings);
