// torvane-tool: operator commands for message tables, zip archives, compressed data files,
// version lists, list tokens and profile files.
// Scripts rely on the command lines and output formats printed by Usage().

#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "platform/ProgramInfo.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  torvane-tool wtf build SRC DEST [--codepage CP]\n"
    "  torvane-tool wtf dump FILE [--codepage CP]\n"
    "  torvane-tool wtf get FILE N [--codepage CP]\n"
    "  torvane-tool zip list ARCHIVE\n"
    "  torvane-tool zip test ARCHIVE\n"
    "  torvane-tool zip extract ARCHIVE DIR\n"
    "  torvane-tool vkc restore FILE DESTDIR\n"
    "  torvane-tool versions FILE\n"
    "  torvane-tool tokens FILE\n"
    "  torvane-tool ini get FILE SECTION KEY DEFAULT [SIZE]\n"
    "  torvane-tool ini set FILE SECTION KEY VALUE\n";

void Usage() {
    std::fputs(kUsage, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = AnswerHelpOrVersion(std::vector<std::string>(argv + 1, argv + argc),
                                                  "torvane-tool", kUsage)) {
        return *answered;
    }
    if (argc < 3) {
        Usage();
        return 64;
    }
    const std::string group = argv[1];
    // Commands of one word take everything after it.
    if (group == "versions") return Versions(Arguments(argv + 2, argv + argc));
    if (group == "tokens") return Tokens(Arguments(argv + 2, argv + argc));
    const std::string verb = argv[2];
    const Arguments args(argv + 3, argv + argc);
    struct Command {
        const char* Group;
        const char* Verb;
        int (*Run)(const Arguments&);
    };
    static const Command commands[] = {
        {"wtf", "build", WtfBuild},     {"wtf", "dump", WtfDump}, {"wtf", "get", WtfGet},
        {"zip", "list", ZipList},       {"zip", "test", ZipTest}, {"zip", "extract", ZipExtract},
        {"vkc", "restore", VkcRestore}, {"ini", "get", IniGet},   {"ini", "set", IniSet},
    };
    for (const Command& command : commands)
        if (group == command.Group && verb == command.Verb) return command.Run(args);
    Usage();
    return 64;
}
