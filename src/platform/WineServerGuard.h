#pragma once
// Whether a Wine server runs for a prefix. A running server holds the prefix's registry in
// memory and writes it over the files when it exits, so the files may be edited directly only
// while none runs, and a server must not start during the edit.
//
// The guard takes the lock a starting server takes itself (a write lock on the "lock" file of
// the prefix's server directory): while we hold it, a server that starts waits for us (its
// client retries), and a running server's lock tells us it runs. The server directory is
// /tmp/.wine-<uid>/server-<dev>-<inode>, or under the directory a file "wineserver" in the
// prefix names (Debian's layout); a running wineserver process whose working directory is that
// server directory counts as running too. A server is never stopped here: that would end a
// running game.

#include <filesystem>
#include <string>
#include <vector>

class WineServerGuard {
public:
    enum class State { Running, Held };

    explicit WineServerGuard(const std::filesystem::path& prefix);
    ~WineServerGuard();
    WineServerGuard(const WineServerGuard&) = delete;
    WineServerGuard& operator=(const WineServerGuard&) = delete;

    // Running: a server of the prefix runs (nothing is held). Held: none runs, and none can
    // start until the guard is destroyed.
    State Current() const { return state_; }

private:
    State state_ = State::Held;
    std::vector<int> lockFds_;
};
