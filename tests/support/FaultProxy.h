#pragma once
// A fault-injecting TCP proxy (tests/support/fault_proxy.py) between a client under test and
// a real server on loopback: resets, stalls, early closes and endless data, for the
// transfers a match picks. Stopped when the object dies.

#include <memory>
#include <string>

#include "support/TestSupport.h"

namespace testsupport {

struct FaultOptions {
    enum class Kind { None, Reset, Close, Stall, Endless, Chunked };
    Kind Fault = Kind::None;
    bool Ftp = false;            // understand FTP: data connections pass through, match commands
    std::string Match;           // FTP: part of the last command; else: of the request's first line
    long long After = 0;         // bytes forwarded before the fault
    double Seconds = 0;          // stall length (0: for ever)
    int Times = 0;               // faulted transfers at most (0: all)
    long long AnnounceSize = 0;  // FTP: SIZE replies say this instead (0: untouched)
};

class FaultProxy {
public:
    FaultProxy(int targetPort, const FaultOptions& options);
    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    // How many transfers got the fault so far.
    int FaultCount() const;

private:
    TempDir scratch_;
    int port_ = 0;
    bool ready_ = false;
    std::unique_ptr<ChildProcess> child_;
};

}  // namespace testsupport
