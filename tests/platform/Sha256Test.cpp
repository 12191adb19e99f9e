// SHA-256: the published test vectors, whole and streamed in uneven pieces, and files hashed
// across several read pieces.

#include <gtest/gtest.h>

#include <string>

#include "platform/Sha256.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct Vector {
    std::string Message;
    const char* Digest;
};

std::vector<Vector> KnownVectors() {
    return {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
}

TEST(Sha256, PublishedVectorsWholeAndInPieces) {
    for (const Vector& v : KnownVectors()) {
        SCOPED_TRACE(v.Message.substr(0, 16));
        EXPECT_EQ(ToHex(Sha256Of(v.Message)), v.Digest);
        // Pieces that straddle the 64-byte blocks in every way.
        Sha256 hash;
        std::size_t at = 0;
        for (std::size_t piece = 1; at < v.Message.size(); piece = piece % 131 + 1) {
            const std::size_t n = std::min(piece, v.Message.size() - at);
            hash.Update(v.Message.data() + at, n);
            at += n;
        }
        EXPECT_EQ(ToHex(hash.Final()), v.Digest);
        // Final starts the object over: the next hash does not carry the last one's state.
        hash.Update("abc");
        EXPECT_EQ(ToHex(hash.Final()), KnownVectors()[1].Digest);
    }
}

TEST(Sha256, FilesAcrossReadPiecesAndUnreadableOnes) {
    testsupport::TempDir dir;
    // Beyond one read piece and not a multiple of it.
    std::string big(3 * (1 << 20) + 12345, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 1000);
    const std::pair<const char*, std::string> files[] = {{"empty", ""}, {"big", big}};
    for (const auto& [name, contents] : files) {
        SCOPED_TRACE(name);
        testsupport::WriteFile(dir.Path() / name, contents);
        const auto digest = Sha256OfFile(dir.Path() / name);
        ASSERT_TRUE(digest.has_value());
        EXPECT_EQ(digest->Size, contents.size());
        EXPECT_EQ(digest->Digest, Sha256Of(contents));
    }
    EXPECT_FALSE(Sha256OfFile(dir.Path() / "missing").has_value());
    // A directory opens but cannot be read: an error, not the hash of nothing.
    fs::create_directories(dir.Path() / "folder");
    EXPECT_FALSE(Sha256OfFile(dir.Path() / "folder").has_value());
}

TEST(Sha256, HexReadsBothCasesAndRefusesAnythingElse) {
    const Sha256Digest digest = Sha256Of("abc");
    std::string upper = ToHex(digest);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Sha256FromHex(upper), digest);
    EXPECT_EQ(Sha256FromHex(ToHex(digest)), digest);
    EXPECT_FALSE(Sha256FromHex(ToHex(digest).substr(1)).has_value());
    EXPECT_FALSE(Sha256FromHex(ToHex(digest) + "0").has_value());
    EXPECT_FALSE(Sha256FromHex(std::string(63, '0') + "g").has_value());
}

}  // namespace
