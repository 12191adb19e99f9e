#include "support/FaultProxy.h"

#include <fstream>
#include <vector>

namespace testsupport {

namespace {

const char* KindName(FaultOptions::Kind kind) {
    switch (kind) {
        case FaultOptions::Kind::Reset:
            return "reset";
        case FaultOptions::Kind::Close:
            return "close";
        case FaultOptions::Kind::Stall:
            return "stall";
        case FaultOptions::Kind::Endless:
            return "endless";
        case FaultOptions::Kind::Chunked:
            return "chunked";
        case FaultOptions::Kind::None:
            break;
    }
    return "none";
}

}  // namespace

FaultProxy::FaultProxy(int targetPort, const FaultOptions& options) {
    port_ = FreeLoopbackPort();
    std::vector<std::string> argv = {
        "/usr/bin/python3", SourcePath("tests/support/fault_proxy.py").string(),
        "--port",           std::to_string(port_),
        "--target-port",    std::to_string(targetPort),
        "--fault",          KindName(options.Fault),
        "--after",          std::to_string(options.After),
        "--seconds",        std::to_string(options.Seconds),
        "--times",          std::to_string(options.Times),
        "--faults-file",    (scratch_ / "faults").string()};
    if (options.Ftp) argv.push_back("--ftp");
    if (!options.Match.empty()) {
        argv.push_back("--match");
        argv.push_back(options.Match);
    }
    if (options.AnnounceSize > 0) {
        argv.push_back("--announce-size");
        argv.push_back(std::to_string(options.AnnounceSize));
    }
    ChildProcess::Options childOptions;
    childOptions.StderrFile = scratch_ / "proxy.log";
    child_ = std::make_unique<ChildProcess>(argv, childOptions);
    ready_ = WaitForPort(port_);
}

int FaultProxy::FaultCount() const {
    std::ifstream in(scratch_ / "faults");
    int count = 0;
    for (std::string line; std::getline(in, line);) ++count;
    return count;
}

}  // namespace testsupport
