// versions, tokens, ini get/set: the launcher's version list, token reader and profile-file
// layer, for operators and for checking them against other implementations.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "patch/PatchEngine.h"
#include "patch/QuietPatchHost.h"
#include "patch/TokenReader.h"
#include "platform/GamePath.h"
#include "platform/ProfileFile.h"

namespace {

const char* StatusMeaning(int number) {
    switch (number) {
        case 113:
            return "the list cannot be opened";
        case 114:
            return "the list holds more than 999 versions";
        default:
            return "the list cannot be read";
    }
}

bool WantsHelp(const Arguments& args) {
    return !args.empty() && (args[0] == "--help" || args[0] == "-h");
}

}  // namespace

int Versions(const Arguments& args) {
    if (WantsHelp(args) || args.size() != 1) {
        std::cerr << "usage: torvane-tool versions FILE\n";
        return WantsHelp(args) ? 0 : 64;
    }
    const std::filesystem::path file = std::filesystem::absolute(args[0]);
    QuietPatchHost host;
    PatchEngine engine(host, GamePath(file.parent_path()));
    if (!engine.LoadVersionList(file.filename().string())) {
        std::cerr << "torvane-tool: message " << host.LastStatusMessage() << " ("
                  << StatusMeaning(host.LastStatusMessage()) << "): " << args[0] << "\n";
        return 1;
    }
    for (const VersionEntry& entry : engine.VersionList) {
        std::printf("%s\t%d.%d.%d\t%d\n", entry.Label, entry.Major, entry.Minor, entry.Build,
                    static_cast<int>(entry.Packed));
    }
    return 0;
}

int Tokens(const Arguments& args) {
    if (WantsHelp(args) || args.size() != 1) {
        std::cerr << "usage: torvane-tool tokens FILE\n";
        return WantsHelp(args) ? 0 : 64;
    }
    CTokenReader reader;
    if (!reader.OpenTokenFile(args[0])) {
        std::cerr << "torvane-tool: cannot read " << args[0] << "\n";
        return 1;
    }
    for (TokenKind kind; (kind = reader.ReadToken()) != TokenEnd;) {
        const double value = kind == TokenNumber ? static_cast<double>(reader.TokenValue()) : 0.0;
        std::printf("%d\t%s\t%g\n", static_cast<int>(kind), reader.TokenText().c_str(), value);
    }
    return 0;
}

int IniGet(const Arguments& args) {
    if (WantsHelp(args) || args.size() < 4 || args.size() > 5) {
        std::cerr << "usage: torvane-tool ini get FILE SECTION KEY DEFAULT [SIZE]\n";
        return WantsHelp(args) ? 0 : 64;
    }
    std::size_t size = 256;
    if (args.size() == 5) {
        char* end = nullptr;
        const unsigned long long parsed = std::strtoull(args[4].c_str(), &end, 10);
        if (args[4].empty() || *end != '\0' || parsed > (1u << 20)) {
            std::cerr << "torvane-tool: SIZE must be a number from 0 to 1048576\n";
            return 64;
        }
        size = static_cast<std::size_t>(parsed);
    }
    std::vector<char> buffer(size + 1, '\0');
    const std::size_t copied = GetPrivateProfileStringA(
        args[1].c_str(), args[2].c_str(), args[3].c_str(), buffer.data(), size, args[0]);
    std::fwrite(buffer.data(), 1, copied, stdout);
    std::fputc('\n', stdout);
    return 0;
}

int IniSet(const Arguments& args) {
    if (WantsHelp(args) || args.size() != 4) {
        std::cerr << "usage: torvane-tool ini set FILE SECTION KEY VALUE\n";
        return WantsHelp(args) ? 0 : 64;
    }
    if (!WritePrivateProfileStringA(args[1].c_str(), args[2].c_str(), args[3].c_str(), args[0])) {
        std::cerr << "torvane-tool: cannot set [" << args[1] << "] " << args[2] << " in " << args[0]
                  << "\n";
        return 1;
    }
    return 0;
}
