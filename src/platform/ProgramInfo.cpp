#include "platform/ProgramInfo.h"

#include <cstdio>

#ifndef TORVANE_VERSION
#define TORVANE_VERSION "unknown"
#endif

const char* ProductVersion() {
    return TORVANE_VERSION;
}

std::string VersionLine(std::string_view program) {
    return std::string(program) + " " + ProductVersion();
}

std::optional<int> AnswerHelpOrVersion(const std::vector<std::string>& arguments,
                                       std::string_view program, std::string_view usage) {
    bool help = false;
    bool version = false;
    for (const std::string& argument : arguments) {
        if (argument == "--") break;
        help = help || argument == "--help" || argument == "-h";
        version = version || argument == "--version";
    }
    if (help) {
        std::fwrite(usage.data(), 1, usage.size(), stdout);
    } else if (version) {
        std::printf("%s\n", VersionLine(program).c_str());
    } else {
        return std::nullopt;
    }
    std::fflush(stdout);
    return 0;
}
