#include "ConnectdSettings.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/AsciiText.h"
#include "platform/KeyValueLines.h"

namespace {

std::string Trim(const std::string& text) {
    return std::string(TrimAscii(text));
}

bool ParseNumber(const std::string& text, long low, long high, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool ParseVersion(const std::string& text, std::array<std::uint8_t, 3>* version) {
    std::istringstream in(text);
    std::string piece;
    for (int i = 0; i < 3; ++i) {
        long number = 0;
        if (!std::getline(in, piece, '.') || !ParseNumber(Trim(piece), 0, 255, &number)) {
            return false;
        }
        (*version)[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(number);
    }
    return !std::getline(in, piece);
}

bool ParseAddressList(const std::string& text, std::vector<std::uint32_t>* list) {
    std::istringstream in(text);
    std::string piece;
    while (std::getline(in, piece, ',')) {
        piece = Trim(piece);
        if (piece.empty()) continue;
        in_addr address{};
        if (::inet_pton(AF_INET, piece.c_str(), &address) != 1) return false;
        list->push_back(address.s_addr);
    }
    return list->size() <= 127;  // the count travels as a signed byte
}

}  // namespace

std::optional<Misbehaviour> ParseMisbehaviour(const std::string& text) {
    if (text == "none") return Misbehaviour::None;
    if (text == "split") return Misbehaviour::Split;
    if (text == "coalesce") return Misbehaviour::Coalesce;
    if (text == "bad_head") return Misbehaviour::BadHead;
    if (text == "short_packet") return Misbehaviour::ShortPacket;
    if (text == "zero_length") return Misbehaviour::ZeroLength;
    return std::nullopt;
}

std::optional<ConnectdSettings> LoadConnectdSettings(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return std::nullopt;
    }
    ConnectdSettings settings;
    for (const KeyValueLine& line : ReadKeyValueLines(in)) {
        const std::string where = path + ":" + std::to_string(line.Number) + ": ";
        if (!line.HasEquals) {
            *error = where + "expected key = value";
            return std::nullopt;
        }
        const std::string& key = line.Key;
        const std::string& value = line.Value;
        long number = 0;
        bool ok = true;
        if (key.rfind("server.", 0) == 0) {
            // server.N.name / server.N.address / server.N.port
            const auto dot = key.find('.', 7);
            long index = 0;
            ok = dot != std::string::npos && ParseNumber(key.substr(7, dot - 7), 0, 9, &index);
            if (ok) {
                ConnectdServer& server = settings.Servers[static_cast<std::size_t>(index)];
                const std::string field = key.substr(dot + 1);
                if (field == "name" && value.size() <= 32) {
                    server.Name = value;
                } else if (field == "address" && value.size() <= 16) {
                    server.Address = value;
                } else if (field == "port" && ParseNumber(value, 0, 65535, &number)) {
                    server.Port = static_cast<std::uint16_t>(number);
                } else {
                    ok = false;
                }
            }
        } else if (key == "patch") {
            if (value == "none") {
                settings.Patch = PatchKind::None;
            } else if (value == "ftp") {
                settings.Patch = PatchKind::Ftp;
            } else if (value == "http") {
                settings.Patch = PatchKind::Http;
            } else {
                ok = false;
            }
        } else if (key == "patch_host") {
            settings.PatchHost = value;
            ok = value.size() <= 100;
        } else if (key == "patch_port") {
            ok = ParseNumber(value, 0, 65535, &number);
            settings.PatchPort = static_cast<std::uint16_t>(number);
        } else if (key == "patch_user") {
            settings.PatchUser = value;
            ok = value.size() <= 20;
        } else if (key == "patch_password") {
            settings.PatchPassword = value;
            ok = value.size() <= 20;
        } else if (key == "patch_version_file") {
            settings.PatchVersionFile = value;
            ok = value.size() <= 20;
        } else if (key == "current_version") {
            std::array<std::uint8_t, 3> version{};
            ok = value.empty() || ParseVersion(value, &version);
            if (ok && !value.empty()) settings.CurrentVersion = version;
        } else if (key == "address_list") {
            settings.AddressList.clear();
            ok = ParseAddressList(value, &settings.AddressList);
            settings.SendAddressList = true;
        } else if (key == "greeting_result") {
            ok = ParseNumber(value, 0, 255, &number);
            settings.GreetingResult = static_cast<std::uint8_t>(number);
        } else if (key == "misbehave") {
            const auto misbehaviour = ParseMisbehaviour(value);
            ok = misbehaviour.has_value();
            if (ok) settings.Misbehave = *misbehaviour;
        } else {
            *error = where + "unknown key " + key;
            return std::nullopt;
        }
        if (!ok) {
            *error = where + "bad value for " + key;
            return std::nullopt;
        }
    }
    return settings;
}
