// torvane-game-stub: stands in for the game client. Prints what it was handed: the address
// and port from its command line, the same from the Connection registry values, and whether
// the launcher's time stamp there is fresh.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "GameArguments.h"
#include "platform/Clock.h"
#include "platform/DeploymentSettings.h"
#include "platform/FileRegistry.h"
#include "platform/ProgramInfo.h"

namespace {

constexpr const char* kConnectionKey = "SOFTWARE\\Varnok\\Ka\\Connection";
constexpr std::uint32_t kStampFreshMs = 5000;

constexpr const char* kUsage =
    "usage: torvane-game-stub [--config FILE] [--registry-dir DIR] [--scramble-key HEX]\n"
    "                         [--] connect /y... /z...\n"
    "Stands in for the game client: prints the address and port it was handed on its command\n"
    "line and in the Connection registry values, and whether the launcher's stamp is fresh.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

void PrintRegistry(const Registry& registry, const ScrambleKey& key) {
    std::string scrambled;
    std::uint32_t parameterB = 0;
    const bool haveAddress = registry.QueryString(RegistryRoot::LocalMachine, kConnectionKey,
                                                  "ParameterA", &scrambled) == Registry::Status::Ok;
    const bool havePort = registry.QueryDword(RegistryRoot::LocalMachine, kConnectionKey,
                                              "ParameterB", &parameterB) == Registry::Status::Ok;
    const std::string address = DescrambleText(scrambled, key);
    std::printf("registry address: %s\n", haveAddress ? address.c_str() : "missing");
    if (haveAddress && havePort) {
        std::printf("registry port: %u\n",
                    static_cast<unsigned>(PortFromParameterB(parameterB, address.size(), key)));
    } else {
        std::printf("registry port: missing\n");
    }

    std::uint32_t stamp = 0;
    const char* state = "missing";
    if (registry.QueryDword(RegistryRoot::LocalMachine, kConnectionKey, "Key", &stamp) ==
        Registry::Status::Ok) {
        state = static_cast<std::uint32_t>(TickCount() - stamp) <= kStampFreshMs ? "ok" : "stale";
    }
    std::printf("stamp: %s\n", state);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = AnswerHelpOrVersion(std::vector<std::string>(argv + 1, argv + argc),
                                                  "torvane-game-stub", kUsage)) {
        return *answered;
    }
    std::filesystem::path configPath;
    std::string registryDir;
    std::string keyText;
    std::vector<std::string> words;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.rfind("--", 0) != 0) break;
        if (i + 1 >= argc) return Usage();
        if (arg == "--config") {
            configPath = argv[++i];
        } else if (arg == "--registry-dir") {
            registryDir = argv[++i];
        } else if (arg == "--scramble-key") {
            keyText = argv[++i];
        } else {
            return Usage();
        }
    }
    for (; i < argc; ++i) words.emplace_back(argv[i]);

    // The launcher's settings as the launcher reads them, then the game directory's (the stub
    // runs there), then the one given.
    if (configPath.empty() && std::filesystem::exists("torvane.conf")) configPath = "torvane.conf";
    DeploymentSettings settings =
        LoadDeploymentSettingsFiles(DeploymentSettingsFiles(ProgramDirectory(), configPath),
                                    DefaultDeploymentSettings(ProgramDirectory()));
    ScrambleKey key = settings.ScrambleKey;
    if (!keyText.empty()) {
        const auto parsed = ParseScrambleKey(keyText);
        if (!parsed) return Usage();
        key = *parsed;
    }
    if (!registryDir.empty()) settings.RegistryDirectory = registryDir;

    const auto arguments = ParseConnectArguments(words, key);
    std::printf("address: %s\n", arguments ? arguments->Address.c_str() : "missing");
    std::printf("port: %s\n", arguments ? arguments->Port.c_str() : "missing");
    PrintRegistry(FileRegistry(settings.RegistryDirectory), key);
    return 0;
}
