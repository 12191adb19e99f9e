#pragma once
// Where the patches lie, as the connect server describes it: a host, a port, an account and
// the name of the remote version file. On the wire the four texts are XOR-coded (key
// 5A 3E 91, each field on its own over its full size); `XorCode` codes and decodes alike.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct PatchServerInfo {
    static constexpr std::size_t kHostSize = 100;
    static constexpr std::size_t kTextSize = 20;
    // Offsets inside the packet; the record spans bytes 6 to 167.
    static constexpr std::size_t kHostOffset = 6;
    static constexpr std::size_t kPortOffset = 106;
    static constexpr std::size_t kUserOffset = 108;
    static constexpr std::size_t kPasswordOffset = 128;
    static constexpr std::size_t kVersionFileOffset = 148;
    static constexpr std::size_t kEndOffset = 168;

    // Fields as they came off the wire (coded or decoded, see Coded), NUL-padded.
    std::array<char, kHostSize> Host{};
    std::uint16_t Port = 0;
    std::array<char, kTextSize> User{};
    std::array<char, kTextSize> Password{};
    std::array<char, kTextSize> VersionFile{};
    bool Coded = true;

    // The texts up to their first NUL, never beyond their field.
    std::string HostText() const { return FieldText(Host.data(), Host.size()); }
    std::string UserText() const { return FieldText(User.data(), User.size()); }
    std::string PasswordText() const { return FieldText(Password.data(), Password.size()); }
    std::string VersionFileText() const {
        return FieldText(VersionFile.data(), VersionFile.size());
    }

    // Reads bytes 6 to 167 of a packet of `length` bytes; false when the packet is shorter.
    // The texts stay as they are on the wire (Coded = true).
    static bool FromPacket(const std::uint8_t* packet, std::size_t length, PatchServerInfo* info);

    // XOR over all four text fields (coding is its own inverse); flips Coded.
    void XorCode();
    // Decodes when still coded.
    void Decode() {
        if (Coded) XorCode();
    }

    static std::string FieldText(const char* field, std::size_t size);
};

// XOR-codes `size` bytes in place with the connect server's 3-byte key, from key byte 0.
void XorCodeField(char* field, std::size_t size);
