#include "platform/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

namespace {

// Looked up once: a digest named anew on every hash costs a search of the providers each time.
const EVP_MD* Sha256Method() {
    static const EVP_MD* const method = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (!method) throw std::runtime_error("libcrypto offers no SHA-256");
    return method;
}

// Installed files are read this much at a time: few system calls, and the read-ahead the
// sequential hint asks for keeps the disk busy while the last piece is hashed.
constexpr std::size_t kFileReadPiece = std::size_t{1} << 20;

}  // namespace

struct Sha256::Context {
    EVP_MD_CTX* Handle = EVP_MD_CTX_new();
};

Sha256::Sha256() : context_(new Context) {
    if (!context_->Handle || !EVP_DigestInit_ex2(context_->Handle, Sha256Method(), nullptr)) {
        EVP_MD_CTX_free(context_->Handle);
        delete context_;
        throw std::runtime_error("libcrypto cannot start a SHA-256 hash");
    }
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(context_->Handle);
    delete context_;
}

void Sha256::Update(const void* data, std::size_t size) {
    if (size > 0) EVP_DigestUpdate(context_->Handle, data, size);
}

Sha256Digest Sha256::Final() {
    Sha256Digest digest;
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->Handle, digest.data(), &length);
    EVP_DigestInit_ex2(context_->Handle, nullptr, nullptr);
    return digest;
}

Sha256Digest Sha256Of(std::string_view data) {
    Sha256 hash;
    hash.Update(data);
    return hash.Final();
}

std::optional<FileDigest> Sha256OfFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Sha256 hash;
    FileDigest result;
    std::unique_ptr<char[]> buffer(new char[kFileReadPiece]);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kFileReadPiece);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        hash.Update(buffer.get(), static_cast<std::size_t>(got));
        result.Size += static_cast<std::uint64_t>(got);
    }
    ::close(fd);
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
