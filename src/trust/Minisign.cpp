#include "trust/Minisign.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::size_t kPublicKeyBytes = 2 + 8 + 32;
constexpr std::size_t kSecretKeyBytes = 2 + 2 + 2 + 32 + 8 + 8 + 8 + 64 + 32;
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;
// Longer lines than any key, signature or comment minisign writes are refused outright.
constexpr std::size_t kMaxLineBytes = 8192;
constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

void InitSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

// Splits into lines (LF or CRLF); false when a line is too long.
bool SplitLines(std::string_view text, std::vector<std::string_view>& lines) {
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.size() > kMaxLineBytes) return false;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text, std::size_t expected) {
    InitSodium();
    text = Trim(text);
    std::vector<std::uint8_t> out(expected + 3);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || length != expected)
        return std::nullopt;
    out.resize(length);
    return out;
}

std::string EncodeBase64(const std::uint8_t* data, std::size_t size) {
    InitSodium();
    std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    out.resize(std::strlen(out.c_str()));
    return out;
}

// The first two lines of a key file: a comment line, then the base64 line.
std::optional<std::string_view> KeyLineOf(std::string_view text, std::string& error) {
    std::vector<std::string_view> lines;
    if (!SplitLines(text, lines)) {
        error = "a line is too long for a key file";
        return std::nullopt;
    }
    if (lines.size() < 2 || !lines[0].starts_with(kUntrustedPrefix)) {
        error = "not a minisign key file (no \"untrusted comment:\" line followed by the key)";
        return std::nullopt;
    }
    return lines[1];
}

std::array<std::uint8_t, 32> SecretKeyCheck(const MinisignSecretKey& key) {
    std::array<std::uint8_t, 32> check;
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, check.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>("Ed"), 2);
    crypto_generichash_update(&state, key.KeyId.data(), key.KeyId.size());
    crypto_generichash_update(&state, key.Key.data(), key.Key.size());
    crypto_generichash_final(&state, check.data(), check.size());
    return check;
}

std::array<std::uint8_t, 64> Blake2b512(std::string_view message) {
    std::array<std::uint8_t, 64> hash;
    crypto_generichash(hash.data(), hash.size(),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       nullptr, 0);
    return hash;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

MinisignPublicKey MinisignSecretKey::PublicKey() const {
    MinisignPublicKey key;
    key.KeyId = KeyId;
    std::memcpy(key.Key.data(), Key.data() + 32, 32);
    return key;
}

std::string KeyIdText(const MinisignKeyId& id) {
    char text[17];
    for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", id[7 - i]);
    return std::string(text, 16);
}

std::optional<MinisignPublicKey> ParsePublicKeyLine(std::string_view line, std::string& error) {
    auto bytes = DecodeBase64(line, kPublicKeyBytes);
    if (!bytes) {
        error = "not the base64 of a minisign public key (" + std::to_string(kPublicKeyBytes) +
                " bytes)";
        return std::nullopt;
    }
    if ((*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
        error = "the public key is not an Ed25519 key (algorithm bytes are not \"Ed\")";
        return std::nullopt;
    }
    MinisignPublicKey key;
    std::memcpy(key.KeyId.data(), bytes->data() + 2, 8);
    std::memcpy(key.Key.data(), bytes->data() + 10, 32);
    return key;
}

std::optional<MinisignPublicKey> ParsePublicKeyFile(std::string_view text, std::string& error) {
    auto line = KeyLineOf(text, error);
    if (!line) return std::nullopt;
    return ParsePublicKeyLine(*line, error);
}

std::optional<MinisignSecretKey> ParseSecretKeyFile(std::string_view text, std::string& error) {
    auto line = KeyLineOf(text, error);
    if (!line) return std::nullopt;
    auto bytes = DecodeBase64(*line, kSecretKeyBytes);
    if (!bytes) {
        error = "not a minisign secret key (the key line is not the base64 of " +
                std::to_string(kSecretKeyBytes) + " bytes)";
        return std::nullopt;
    }
    const std::uint8_t* b = bytes->data();
    if (b[0] != 'E' || b[1] != 'd') {
        error = "the secret key is not an Ed25519 key (algorithm bytes are not \"Ed\")";
        return std::nullopt;
    }
    if (b[2] == 'S' && b[3] == 'c') {
        error =
            "the secret key is protected by a password, which this tool does not read; "
            "make an unencrypted key with `minisign -G -W` or `torvane-publish keygen` "
            "and keep it safe by other means";
        return std::nullopt;
    }
    if (b[2] != 0 || b[3] != 0 || b[4] != 'B' || b[5] != '2') {
        error = "the secret key names an unknown key derivation or check algorithm";
        return std::nullopt;
    }
    const std::uint8_t* keynum = b + 2 + 2 + 2 + 32 + 8 + 8;
    MinisignSecretKey key;
    std::memcpy(key.KeyId.data(), keynum, 8);
    std::memcpy(key.Key.data(), keynum + 8, 64);
    InitSodium();
    // `minisign -G -W` leaves the check of an unencrypted key zero; any other value must match.
    auto check = SecretKeyCheck(key);
    const std::array<std::uint8_t, 32> zero{};
    if (sodium_memcmp(check.data(), keynum + 8 + 64, 32) != 0 &&
        sodium_memcmp(zero.data(), keynum + 8 + 64, 32) != 0) {
        error = "the secret key's check sum does not match: the file is damaged";
        return std::nullopt;
    }
    // The public half stored in the key must be the one its seed makes.
    std::array<std::uint8_t, 32> derived;
    crypto_sign_ed25519_sk_to_pk(derived.data(), key.Key.data());
    std::array<std::uint8_t, 32> seed;
    crypto_sign_ed25519_sk_to_seed(seed.data(), key.Key.data());
    std::array<std::uint8_t, 32> fromSeed;
    std::array<std::uint8_t, 64> ignored;
    crypto_sign_seed_keypair(fromSeed.data(), ignored.data(), seed.data());
    sodium_memzero(ignored.data(), ignored.size());
    sodium_memzero(seed.data(), seed.size());
    if (sodium_memcmp(derived.data(), fromSeed.data(), 32) != 0) {
        error = "the secret key's public half does not belong to its seed: the file is damaged";
        return std::nullopt;
    }
    return key;
}

std::optional<MinisignSignature> ParseSignatureFile(std::string_view text, std::string& error) {
    std::vector<std::string_view> lines;
    if (!SplitLines(text, lines)) {
        error = "a line is too long for a signature file";
        return std::nullopt;
    }
    if (lines.size() < 4 || !lines[0].starts_with(kUntrustedPrefix) ||
        !lines[2].starts_with(kTrustedPrefix)) {
        error =
            "not a minisign signature file (expected an untrusted comment, the signature, a "
            "trusted comment and its signature)";
        return std::nullopt;
    }
    auto sig = DecodeBase64(lines[1], kSignatureBytes);
    auto global = DecodeBase64(lines[3], 64);
    if (!sig || !global) {
        error = "the signature file's base64 lines do not decode to a signature";
        return std::nullopt;
    }
    MinisignSignature s;
    if ((*sig)[0] == 'E' && (*sig)[1] == 'D') {
        s.Prehashed = true;
    } else if ((*sig)[0] == 'E' && (*sig)[1] == 'd') {
        s.Prehashed = false;
    } else {
        error = "the signature's algorithm is neither \"ED\" nor \"Ed\"";
        return std::nullopt;
    }
    std::memcpy(s.KeyId.data(), sig->data() + 2, 8);
    std::memcpy(s.Signature.data(), sig->data() + 10, 64);
    std::memcpy(s.GlobalSignature.data(), global->data(), 64);
    s.UntrustedComment = std::string(lines[0].substr(kUntrustedPrefix.size()));
    s.TrustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
    return s;
}

std::string PublicKeyLine(const MinisignPublicKey& key) {
    std::uint8_t bytes[kPublicKeyBytes] = {'E', 'd'};
    std::memcpy(bytes + 2, key.KeyId.data(), 8);
    std::memcpy(bytes + 10, key.Key.data(), 32);
    return EncodeBase64(bytes, sizeof bytes);
}

std::string FormatPublicKeyFile(const MinisignPublicKey& key) {
    return std::string(kUntrustedPrefix) + "minisign public key " + KeyIdText(key.KeyId) + "\n" +
           PublicKeyLine(key) + "\n";
}

std::string FormatSecretKeyFile(const MinisignSecretKey& key) {
    std::uint8_t bytes[kSecretKeyBytes] = {'E', 'd', 0, 0, 'B', '2'};
    std::uint8_t* keynum = bytes + 2 + 2 + 2 + 32 + 8 + 8;
    std::memcpy(keynum, key.KeyId.data(), 8);
    std::memcpy(keynum + 8, key.Key.data(), 64);
    auto check = SecretKeyCheck(key);
    std::memcpy(keynum + 8 + 64, check.data(), 32);
    std::string text = std::string(kUntrustedPrefix) + "minisign secret key " +
                       KeyIdText(key.KeyId) + " (unencrypted)\n" +
                       EncodeBase64(bytes, sizeof bytes) + "\n";
    sodium_memzero(bytes, sizeof bytes);
    return text;
}

std::string FormatSignatureFile(const MinisignSignature& s) {
    std::uint8_t bytes[kSignatureBytes] = {'E', static_cast<std::uint8_t>(s.Prehashed ? 'D' : 'd')};
    std::memcpy(bytes + 2, s.KeyId.data(), 8);
    std::memcpy(bytes + 10, s.Signature.data(), 64);
    return std::string(kUntrustedPrefix) + s.UntrustedComment + "\n" +
           EncodeBase64(bytes, sizeof bytes) + "\n" + std::string(kTrustedPrefix) +
           s.TrustedComment + "\n" + EncodeBase64(s.GlobalSignature.data(), 64) + "\n";
}

MinisignSecretKey GenerateSecretKey() {
    InitSodium();
    MinisignSecretKey key;
    std::array<std::uint8_t, 32> pk;
    crypto_sign_keypair(pk.data(), key.Key.data());
    randombytes_buf(key.KeyId.data(), key.KeyId.size());
    return key;
}

MinisignSignature SignMessage(const MinisignSecretKey& key, std::string_view message,
                              std::string_view untrustedComment, std::string_view trustedComment) {
    InitSodium();
    if (HasLineBreak(untrustedComment) || HasLineBreak(trustedComment))
        throw std::invalid_argument("a signature comment must be one line");
    MinisignSignature s;
    s.Prehashed = true;
    s.KeyId = key.KeyId;
    s.UntrustedComment = std::string(untrustedComment);
    s.TrustedComment = std::string(trustedComment);
    auto hash = Blake2b512(message);
    crypto_sign_detached(s.Signature.data(), nullptr, hash.data(), hash.size(), key.Key.data());
    std::string global(reinterpret_cast<const char*>(s.Signature.data()), 64);
    global += s.TrustedComment;
    crypto_sign_detached(s.GlobalSignature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                         key.Key.data());
    return s;
}

bool VerifySignature(const MinisignPublicKey& key, const MinisignSignature& s,
                     std::string_view message, std::string& error) {
    InitSodium();
    if (s.KeyId != key.KeyId) {
        error = "signed by key " + KeyIdText(s.KeyId) + ", not by the trusted key " +
                KeyIdText(key.KeyId);
        return false;
    }
    int result;
    if (s.Prehashed) {
        auto hash = Blake2b512(message);
        result = crypto_sign_verify_detached(s.Signature.data(), hash.data(), hash.size(),
                                             key.Key.data());
    } else {
        result = crypto_sign_verify_detached(s.Signature.data(),
                                             reinterpret_cast<const unsigned char*>(message.data()),
                                             message.size(), key.Key.data());
    }
    if (result != 0) {
        error = "the signature does not match the signed file (key " + KeyIdText(key.KeyId) + ")";
        return false;
    }
    std::string global(reinterpret_cast<const char*>(s.Signature.data()), 64);
    global += s.TrustedComment;
    if (crypto_sign_verify_detached(s.GlobalSignature.data(),
                                    reinterpret_cast<const unsigned char*>(global.data()),
                                    global.size(), key.Key.data()) != 0) {
        error = "the trusted comment's signature does not match: the comment was changed";
        return false;
    }
    return true;
}
