#pragma once
// Asks the connect server where the patches lie, for a check of an installed game: a client
// that is current is told only to go ahead, so the question announces version 0.0.0, older
// than any, and the answer names the patch server (FTP or HTTP) as it would for a client that
// must patch. Blocking, with a time limit; no window, no event loop.

#include <cstdint>
#include <optional>
#include <string>

#include "net/PatchServerInfo.h"

struct PatchServerAnswer {
    bool Http = false;
    PatchServerInfo Server;  // decoded
};

// Nullopt with `error` (naming host:port and what went wrong) when no patch server was named
// within `timeoutMs`.
std::optional<PatchServerAnswer> QueryPatchServer(const std::string& host, std::uint16_t port,
                                                  int timeoutMs, std::string& error);
