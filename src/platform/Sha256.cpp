#include "platform/Sha256.h"

#include <sodium.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

crypto_hash_sha256_state* StateOf(unsigned char* bytes) {
    return reinterpret_cast<crypto_hash_sha256_state*>(bytes);
}

}  // namespace

Sha256::Sha256() {
    static_assert(sizeof(crypto_hash_sha256_state) <= sizeof(state_));
    // sodium_init is idempotent and thread-safe; it picks the fastest implementation.
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
    crypto_hash_sha256_init(StateOf(state_));
}

void Sha256::Update(const void* data, std::size_t size) {
    crypto_hash_sha256_update(StateOf(state_), static_cast<const unsigned char*>(data), size);
}

Sha256Digest Sha256::Final() {
    Sha256Digest digest;
    crypto_hash_sha256_final(StateOf(state_), digest.data());
    crypto_hash_sha256_init(StateOf(state_));
    return digest;
}

Sha256Digest Sha256Of(std::string_view data) {
    Sha256 hash;
    hash.Update(data);
    return hash.Final();
}

std::optional<FileDigest> Sha256OfFile(const std::filesystem::path& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return std::nullopt;
    Sha256 hash;
    FileDigest result;
    std::unique_ptr<char[]> buffer(new char[1 << 16]);
    for (;;) {
        std::size_t got = std::fread(buffer.get(), 1, 1 << 16, file.get());
        hash.Update(buffer.get(), got);
        result.Size += got;
        if (got < (1 << 16)) break;
    }
    if (std::ferror(file.get())) return std::nullopt;
    result.Digest = hash.Final();
    return result;
}

std::string ToHex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (std::uint8_t b : digest) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::optional<Sha256Digest> Sha256FromHex(std::string_view text) {
    if (text.size() != 64) return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Sha256Digest digest;
    for (std::size_t i = 0; i < 32; ++i) {
        int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return digest;
}
