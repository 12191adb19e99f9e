// torvane-connectd: the connect server. Greets every client and answers its server-list and
// version requests from a settings file; thousands of clients at once on one event loop, one
// log line per session on stderr (every packet as hex with --trace).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ConnectdServer.h"
#include "platform/ProgramInfo.h"

namespace {

const char* const kUsage =
    "usage: torvane-connectd [--config FILE] [--listen ADDRESS] [--port PORT]\n"
    "                        [--max-connections N] [--max-per-address N]\n"
    "                        [--greeting-timeout SECONDS] [--idle-timeout SECONDS]\n"
    "                        [--max-clients N] [--trace]\n"
    "                        [--misbehave none|split|coalesce|bad_head|short_packet|zero_length]\n"
    "Listens on ADDRESS (IPv4 or IPv6, default 127.0.0.1) port PORT (default 44405; 0 picks a\n"
    "free one) and prints \"listening PORT\". SIGHUP re-reads FILE; SIGTERM stops.\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "torvane-connectd: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseLong(const std::string& text, long low, long high, long* value) {
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = AnswerHelpOrVersion(std::vector<std::string>(argv + 1, argv + argc),
                                                  "torvane-connectd", kUsage)) {
        return *answered;
    }
    ConnectdOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--trace") {
            options.TracePackets = true;
            continue;
        }
        if (i + 1 >= argc) return Usage(arg + " needs a value");
        const std::string value = argv[++i];
        long number = 0;
        const auto numeric = [&](long low, long high) {
            return ParseLong(value, low, high, &number);
        };
        const std::string bad = "bad value for " + arg + ": " + value;
        if (arg == "--config") {
            options.ConfigPath = value;
        } else if (arg == "--listen") {
            options.ListenAddress = value;
        } else if (arg == "--port") {
            if (!numeric(0, 65535)) return Usage(bad);
            options.Port = number;
        } else if (arg == "--max-clients") {
            if (!numeric(1, 1L << 40)) return Usage(bad);
            options.MaxSessions = number;
        } else if (arg == "--max-connections") {
            if (!numeric(1, 1000000)) return Usage(bad);
            options.MaxConnections = static_cast<int>(number);
        } else if (arg == "--max-per-address") {
            if (!numeric(1, 1000000)) return Usage(bad);
            options.MaxPerAddress = static_cast<int>(number);
        } else if (arg == "--greeting-timeout") {
            if (!numeric(1, 86400)) return Usage(bad);
            options.GreetingTimeoutSeconds = static_cast<int>(number);
        } else if (arg == "--idle-timeout") {
            if (!numeric(1, 86400)) return Usage(bad);
            options.IdleTimeoutSeconds = static_cast<int>(number);
        } else if (arg == "--misbehave") {
            options.Misbehave = ParseMisbehaviour(value);
            if (!options.Misbehave) return Usage(bad);
        } else {
            return Usage("unknown option " + arg);
        }
    }

    std::string error;
    auto settings = LoadServerSettings(options, &error);
    if (!settings) {
        std::fprintf(stderr, "torvane-connectd: %s\n", error.c_str());
        return 1;
    }
    return RunConnectdServer(options, std::move(*settings));
}
