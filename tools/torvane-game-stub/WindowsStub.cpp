// torvane-game-stub-win64.exe: the stand-in game client built as a Windows program (mingw-w64) and
// run under Wine. It prints what the native stub prints, read the way a Windows client reads
// it: the command line from GetCommandLineA, the Connection values with RegQueryValueExA and
// the stamp's age against timeGetTime.
//
//   torvane-game-stub-win64.exe [--scramble-key HEX] [--view 32|64] connect /y... /z...
//   torvane-game-stub-win64.exe --options      the client's Config values, one "name: value" a line
//   torvane-game-stub-win64.exe --ticks        for every line read, timeGetTime() on a line
//
// --view 32 (the default) reads HKEY_LOCAL_MACHINE\SOFTWARE as a 32-bit client sees it
// (KEY_WOW64_32KEY: below Wow6432Node); --view 64 as a 64-bit one. The scramble key comes from
// --scramble-key, else from "scramble_key" in torvane.conf of the working directory, else the
// launcher's default. With TORVANE_STUB_OUTPUT set (a Windows path), the report goes to that
// file instead of standard output: the launcher detaches the client, so its output has no
// reader otherwise.

#include <windows.h>

// timeGetTime; needs the types of windows.h first.
#include <mmsystem.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "GameArguments.h"

namespace {

constexpr const char* kConnectionKey = "SOFTWARE\\Varnok\\Ka\\Connection";
constexpr const char* kConfigKey = "SOFTWARE\\Varnok\\KA\\Config";
constexpr DWORD kStampFreshMs = 5000;

// The words of the command line after the program's own name, split at blanks only: the
// scrambled texts are taken byte for byte as the launcher sent them.
std::vector<std::string> CommandWords() {
    const char* line = GetCommandLineA();
    std::size_t i = 0;
    const std::size_t n = std::strlen(line);
    if (i < n && line[i] == '"') {
        for (++i; i < n && line[i] != '"'; ++i) {
        }
        ++i;
    } else {
        while (i < n && line[i] != ' ' && line[i] != '\t') ++i;
    }
    std::vector<std::string> words;
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < n && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.emplace_back(line + start, i - start);
    }
    return words;
}

bool ParseKey(const std::string& text, ScrambleKey& key) {
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if (c != ' ' && c != ',' && c != ':' && c != '\t') {
            return false;
        }
    }
    if (digits.size() != 8) return false;
    for (std::size_t i = 0; i < 4; ++i)
        key[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(i * 2, 2), nullptr, 16));
    return true;
}

void KeyFromSettingsFile(ScrambleKey& key) {
    std::ifstream in("torvane.conf");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string name = line.substr(0, equals);
        name.erase(name.find_last_not_of(" \t") + 1);
        name.erase(0, name.find_first_not_of(" \t"));
        if (name == "scramble_key") ParseKey(line.substr(equals + 1), key);
    }
}

bool QueryText(HKEY key, const char* name, std::string& text) {
    char buffer[256] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    text.assign(buffer, strnlen(buffer, size));
    return true;
}

bool QueryNumber(HKEY key, const char* name, DWORD& number) {
    DWORD type = 0;
    DWORD size = sizeof number;
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

void PrintConnection(const ScrambleKey& scrambleKey, REGSAM view) {
    HKEY key = nullptr;
    std::string scrambled;
    DWORD parameterB = 0;
    DWORD stamp = 0;
    bool haveAddress = false, havePort = false, haveStamp = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConnectionKey, 0, KEY_READ | view, &key) ==
        ERROR_SUCCESS) {
        haveAddress = QueryText(key, "ParameterA", scrambled);
        havePort = QueryNumber(key, "ParameterB", parameterB);
        haveStamp = QueryNumber(key, "Key", stamp);
        RegCloseKey(key);
    }
    const DWORD now = timeGetTime();
    const std::string address = DescrambleText(scrambled, scrambleKey);
    std::printf("registry address: %s\n", haveAddress ? address.c_str() : "missing");
    if (haveAddress && havePort) {
        std::printf("registry port: %u\n", static_cast<unsigned>(PortFromParameterB(
                                               parameterB, address.size(), scrambleKey)));
    } else {
        std::printf("registry port: missing\n");
    }
    std::printf("stamp: %s\n", !haveStamp                                         ? "missing"
                               : static_cast<DWORD>(now - stamp) <= kStampFreshMs ? "ok"
                                                                                  : "stale");
}

int PrintOptions() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::printf("Config: missing\n");
        return 0;
    }
    std::string id;
    std::printf("ID: %s\n", QueryText(key, "ID", id) ? id.c_str() : "missing");
    for (const char* name :
         {"SoundOnOff", "MusicOnOff", "Resolution", "ColorDepth", "WindowMode"}) {
        DWORD value = 0;
        if (QueryNumber(key, name, value)) {
            std::printf("%s: %ld\n", name, static_cast<long>(static_cast<LONG>(value)));
        } else {
            std::printf("%s: missing\n", name);
        }
    }
    RegCloseKey(key);
    return 0;
}

int EchoTicks() {
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        std::printf("%lu\n", static_cast<unsigned long>(timeGetTime()));
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main() {
    // The report's lines end in "\n" alone, as the native stub's do.
    _setmode(_fileno(stdout), _O_BINARY);
    if (const char* output = std::getenv("TORVANE_STUB_OUTPUT"); output && *output)
        std::freopen(output, "wb", stdout);
    ScrambleKey key{0x17, 0x2B, 0x3D, 0x4F};
    KeyFromSettingsFile(key);
    REGSAM view = KEY_WOW64_32KEY;
    std::vector<std::string> words = CommandWords();
    std::size_t i = 0;
    for (; i < words.size() && words[i].rfind("--", 0) == 0; ++i) {
        if (words[i] == "--options") return PrintOptions();
        if (words[i] == "--ticks") return EchoTicks();
        if (i + 1 >= words.size()) break;
        if (words[i] == "--scramble-key") {
            ParseKey(words[++i], key);
        } else if (words[i] == "--view") {
            view = words[++i] == "64" ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        }
    }
    words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(i));
    const auto arguments = ParseConnectArguments(words, key);
    std::printf("address: %s\n", arguments ? arguments->Address.c_str() : "missing");
    std::printf("port: %s\n", arguments ? arguments->Port.c_str() : "missing");
    PrintConnection(key, view);
    return 0;
}
