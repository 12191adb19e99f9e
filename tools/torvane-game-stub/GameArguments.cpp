#include "GameArguments.h"

#include <cctype>

std::string DescrambleText(const std::string& text, const ScrambleKey& key) {
    std::string plain = text;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<char>(static_cast<std::uint8_t>(plain[i]) - key[i % 4]);
    }
    return plain;
}

std::optional<ConnectArguments> ParseConnectArguments(const std::vector<std::string>& words,
                                                      const ScrambleKey& key) {
    std::string line;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i != 0) line += ' ';
        line += words[i];
    }
    static const std::string kPrefix = "connect /y";
    if (line.rfind(kPrefix, 0) != 0) return std::nullopt;
    // The scrambled address may itself hold " /z": the port is what follows the last one.
    const auto portMark = line.rfind(" /z");
    if (portMark == std::string::npos || portMark < kPrefix.size()) return std::nullopt;
    std::string port = line.substr(portMark + 3);
    if (!port.empty() && port.back() == ' ') port.pop_back();
    ConnectArguments arguments;
    arguments.Address = DescrambleText(line.substr(kPrefix.size(), portMark - kPrefix.size()), key);
    arguments.Port = DescrambleText(port, key);
    return arguments;
}

std::uint32_t PortFromParameterB(std::uint32_t parameterB, std::size_t addressLength,
                                 const ScrambleKey& key) {
    return parameterB ^ key[addressLength % 4];
}
