#include "net/PatchServerInfo.h"

#include <cstring>

namespace {
constexpr std::uint8_t kXorKey[3] = {0x5A, 0x3E, 0x91};
}

void XorCodeField(char* field, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        field[i] = static_cast<char>(static_cast<std::uint8_t>(field[i]) ^ kXorKey[i % 3]);
    }
}

std::string PatchServerInfo::FieldText(const char* field, std::size_t size) {
    const void* end = std::memchr(field, '\0', size);
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : size;
    return std::string(field, length);
}

bool PatchServerInfo::FromPacket(const std::uint8_t* packet, std::size_t length,
                                 PatchServerInfo* info) {
    if (packet == nullptr || info == nullptr || length < kEndOffset) return false;
    std::memcpy(info->Host.data(), packet + kHostOffset, kHostSize);
    info->Port = static_cast<std::uint16_t>(packet[kPortOffset] | (packet[kPortOffset + 1] << 8));
    std::memcpy(info->User.data(), packet + kUserOffset, kTextSize);
    std::memcpy(info->Password.data(), packet + kPasswordOffset, kTextSize);
    std::memcpy(info->VersionFile.data(), packet + kVersionFileOffset, kTextSize);
    info->Coded = true;
    return true;
}

void PatchServerInfo::XorCode() {
    XorCodeField(Host.data(), Host.size());
    XorCodeField(User.data(), User.size());
    XorCodeField(Password.data(), Password.size());
    XorCodeField(VersionFile.data(), VersionFile.size());
    Coded = !Coded;
}
