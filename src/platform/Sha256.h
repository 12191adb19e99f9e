#pragma once
// SHA-256, streamed: downloads and installed files are hashed as their bytes go by, never read
// twice. The implementation is libcrypto's, which uses the processor's SHA instructions where
// there are any (several times the speed of portable code, and the hash is most of what
// verifying a game costs).

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const void* data, std::size_t size);
    void Update(std::string_view data) { Update(data.data(), data.size()); }
    // Ends this hash; the object starts over afterwards.
    Sha256Digest Final();

private:
    struct Context;
    Context* context_;
};

Sha256Digest Sha256Of(std::string_view data);

// The digest of a file's contents and its size, read in big sequential pieces; nullopt when it
// cannot be read.
struct FileDigest {
    std::uint64_t Size = 0;
    Sha256Digest Digest{};
};
std::optional<FileDigest> Sha256OfFile(const std::filesystem::path& path);

// Lower-case hexadecimal, the form the repository's text files use.
std::string ToHex(const Sha256Digest& digest);
// Exactly 64 hexadecimal digits (either case); nullopt otherwise.
std::optional<Sha256Digest> Sha256FromHex(std::string_view text);
