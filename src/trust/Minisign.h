#pragma once
// Ed25519 keys and signatures in the minisign file formats, over libsodium, so operators can
// sign and check a repository with Debian's `minisign` as well as with torvane-publish.
//
// Public key file:  "untrusted comment: ..." then base64("Ed" | key id (8) | public key (32)).
// Secret key file:  "untrusted comment: ..." then base64 of 158 bytes: "Ed", the key derivation
//                   algorithm (two zero bytes when unencrypted, "Sc" when protected by a
//                   password), "B2", salt (32), two 64-bit limits, then key id (8), secret key
//                   (64) and a BLAKE2b-256 check of "Ed" | key id | secret key.
// Signature file:   "untrusted comment: ..." / base64("ED" or "Ed" | key id | signature (64)) /
//                   "trusted comment: TEXT" / base64(signature (64) over signature | TEXT).
//                   "ED" signs the BLAKE2b-512 hash of the message, "Ed" the message itself.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using MinisignKeyId = std::array<std::uint8_t, 8>;

struct MinisignPublicKey {
    MinisignKeyId KeyId{};
    std::array<std::uint8_t, 32> Key{};
};

struct MinisignSecretKey {
    MinisignKeyId KeyId{};
    std::array<std::uint8_t, 64> Key{};  // libsodium's form: seed then public key
    MinisignPublicKey PublicKey() const;
};

struct MinisignSignature {
    bool Prehashed = true;  // "ED": the BLAKE2b-512 hash of the message was signed
    MinisignKeyId KeyId{};
    std::array<std::uint8_t, 64> Signature{};
    std::string UntrustedComment;
    std::string TrustedComment;
    std::array<std::uint8_t, 64> GlobalSignature{};
};

// The key id as minisign prints it: 16 upper-case hex digits of the little-endian number.
std::string KeyIdText(const MinisignKeyId& id);

// Parsers of outside input: each returns nullopt with `error` saying what is wrong.
// The bare base64 line of a public key (the second line of its file, a `trusted_key` value).
std::optional<MinisignPublicKey> ParsePublicKeyLine(std::string_view line, std::string& error);
std::optional<MinisignPublicKey> ParsePublicKeyFile(std::string_view text, std::string& error);
// Unencrypted keys only; a password-protected key is refused with a message that says how to
// make an unencrypted one.
std::optional<MinisignSecretKey> ParseSecretKeyFile(std::string_view text, std::string& error);
std::optional<MinisignSignature> ParseSignatureFile(std::string_view text, std::string& error);

std::string PublicKeyLine(const MinisignPublicKey& key);
std::string FormatPublicKeyFile(const MinisignPublicKey& key);
std::string FormatSecretKeyFile(const MinisignSecretKey& key);  // unencrypted
std::string FormatSignatureFile(const MinisignSignature& signature);

MinisignSecretKey GenerateSecretKey();

// A prehashed ("ED") signature of `message` with `trustedComment` (one line, no line break).
MinisignSignature SignMessage(const MinisignSecretKey& key, std::string_view message,
                              std::string_view untrustedComment, std::string_view trustedComment);

// True when `signature` was made by `key` over `message` and its trusted comment is intact;
// otherwise false with `error` saying which check failed.
bool VerifySignature(const MinisignPublicKey& key, const MinisignSignature& signature,
                     std::string_view message, std::string& error);
