#pragma once
// One client's conversation with the development connect server: greet, answer the server
// list request and the version request, log every packet to stderr as hex.

#include <cstdint>
#include <vector>

#include "ConnectdSettings.h"

using Packet = std::vector<std::uint8_t>;

// Packets as the server sends them.
Packet BuildGreeting(std::uint8_t result);
Packet BuildServerList(const ConnectdSettings& settings);
Packet BuildGoAhead(const ConnectdSettings& settings);
Packet BuildPatchServer(const ConnectdSettings& settings);

// Runs until the client closes the connection or an error ends it.
void RunConnectdSession(int fd, const ConnectdSettings& settings);
