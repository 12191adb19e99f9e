#pragma once
// What the game client reads from the launcher: the "connect /y<address> /z<port> " command
// line and the Connection registry values, both scrambled with the deployment's four bytes
// (byte i of a text has key byte i mod 4 added to it).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using ScrambleKey = std::array<std::uint8_t, 4>;

std::string DescrambleText(const std::string& text, const ScrambleKey& key);

struct ConnectArguments {
    std::string Address;
    std::string Port;
};

// The launcher's arguments, as one text or as the words a shell made of it (joined with
// blanks again). nullopt when the text is not a connect command.
std::optional<ConnectArguments> ParseConnectArguments(const std::vector<std::string>& words,
                                                      const ScrambleKey& key);

// The port from "ParameterB": key byte (address length mod 4) XOR the port.
std::uint32_t PortFromParameterB(std::uint32_t parameterB, std::size_t addressLength,
                                 const ScrambleKey& key);
