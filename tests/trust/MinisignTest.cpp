// Keys and signatures in the minisign formats: our own round trips, the refusals, and
// interoperation both ways with Debian's `minisign` program.

#include <gtest/gtest.h>
#include <sodium.h>

#include <filesystem>

#include "support/TestSupport.h"
#include "trust/Minisign.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const char* const kMinisign = "/usr/bin/minisign";

// minisign asks for nothing with these keys; an empty standard input makes sure it cannot wait.
ChildProcess::Options NoInput() {
    ChildProcess::Options o;
    o.StdinText = "";
    return o;
}

MinisignSignature MustParseSignature(const std::string& text) {
    std::string error;
    auto s = ParseSignatureFile(text, error);
    EXPECT_TRUE(s) << error;
    return s.value_or(MinisignSignature{});
}

TEST(Minisign, SignatureRoundTripsAndCatchesEveryChange) {
    MinisignSecretKey key = GenerateSecretKey();
    std::string message = "serial 3\nexpires 2027-01-01T00:00:00Z\n";
    MinisignSignature s =
        MustParseSignature(FormatSignatureFile(SignMessage(key, message, "note", "serial:3")));
    EXPECT_TRUE(s.Prehashed);
    EXPECT_EQ(s.TrustedComment, "serial:3");
    std::string error;
    EXPECT_TRUE(VerifySignature(key.PublicKey(), s, message, error)) << error;

    EXPECT_FALSE(VerifySignature(key.PublicKey(), s, message + " ", error));
    EXPECT_NE(error.find("does not match the signed file"), std::string::npos) << error;

    MinisignSignature comment = s;
    comment.TrustedComment = "serial:4";
    EXPECT_FALSE(VerifySignature(key.PublicKey(), comment, message, error));
    EXPECT_NE(error.find("trusted comment"), std::string::npos) << error;

    MinisignSecretKey other = GenerateSecretKey();
    EXPECT_FALSE(VerifySignature(other.PublicKey(), s, message, error));
    EXPECT_NE(error.find("not by the trusted key"), std::string::npos) << error;

    // Same key id, another key: the id alone proves nothing.
    MinisignPublicKey impostor = other.PublicKey();
    impostor.KeyId = key.KeyId;
    EXPECT_FALSE(VerifySignature(impostor, s, message, error));
}

TEST(Minisign, UnhashedSignaturesVerify) {
    MinisignSecretKey key = GenerateSecretKey();
    std::string message = "legacy";
    MinisignSignature s;
    s.Prehashed = false;
    s.KeyId = key.KeyId;
    s.TrustedComment = "old";
    crypto_sign_detached(s.Signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         key.Key.data());
    std::string global(reinterpret_cast<const char*>(s.Signature.data()), 64);
    global += s.TrustedComment;
    crypto_sign_detached(s.GlobalSignature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                         key.Key.data());
    MinisignSignature parsed = MustParseSignature(FormatSignatureFile(s));
    EXPECT_FALSE(parsed.Prehashed);
    std::string error;
    EXPECT_TRUE(VerifySignature(key.PublicKey(), parsed, message, error)) << error;
}

TEST(Minisign, KeysRoundTripAndDamagedOnesAreRefused) {
    MinisignSecretKey key = GenerateSecretKey();
    std::string error;
    auto back = ParseSecretKeyFile(FormatSecretKeyFile(key), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->Key, key.Key);
    EXPECT_EQ(back->KeyId, key.KeyId);
    auto pub = ParsePublicKeyFile(FormatPublicKeyFile(key.PublicKey()), error);
    ASSERT_TRUE(pub) << error;
    EXPECT_EQ(pub->Key, key.PublicKey().Key);
    EXPECT_TRUE(ParsePublicKeyLine("  " + PublicKeyLine(key.PublicKey()) + "\r", error));

    // A secret key whose seed and public half disagree.
    MinisignSecretKey broken = key;
    broken.Key[40] ^= 1;
    EXPECT_FALSE(ParseSecretKeyFile(FormatSecretKeyFile(broken), error));

    EXPECT_FALSE(ParsePublicKeyLine("RWQ", error));
    EXPECT_FALSE(ParsePublicKeyFile(PublicKeyLine(key.PublicKey()), error));  // no comment line
    EXPECT_FALSE(ParseSignatureFile("untrusted comment: x\nAAAA\n", error));
    // A secret key given where a public key belongs is not mistaken for one.
    EXPECT_FALSE(ParsePublicKeyFile(FormatSecretKeyFile(key), error));
}

TEST(Minisign, PasswordProtectedSecretKeysAreRefusedWithAWayOut) {
    std::string text = FormatSecretKeyFile(GenerateSecretKey());
    // The key starts "Ed", the key derivation ("\0\0", or "Sc" for scrypt), "B2": in base64
    // "RWQAAEIy" and "RWRTY0Iy".
    std::size_t line = text.find('\n') + 1;
    ASSERT_EQ(text.substr(line, 8), "RWQAAEIy");
    text.replace(line, 8, "RWRTY0Iy");
    std::string error;
    EXPECT_FALSE(ParseSecretKeyFile(text, error));
    EXPECT_NE(error.find("password"), std::string::npos) << error;
    EXPECT_NE(error.find("minisign -G -W"), std::string::npos) << error;
}

class MinisignInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kMinisign)) GTEST_SKIP() << kMinisign << " is not installed";
    }
    TempDir dir_;
};

TEST_F(MinisignInterop, OurSignaturesVerifyWithMinisign) {
    MinisignSecretKey key = GenerateSecretKey();
    WriteFile(dir_ / "key.pub", FormatPublicKeyFile(key.PublicKey()));
    WriteFile(dir_ / "data", "index text\n");
    WriteFile(dir_ / "data.minisig",
              FormatSignatureFile(SignMessage(key, "index text\n", "from a test", "serial:9")));
    RunResult r = testsupport::Run(
        {kMinisign, "-V", "-p", (dir_ / "key.pub").string(), "-m", (dir_ / "data").string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
    EXPECT_NE(r.Stdout.find("serial:9"), std::string::npos) << r.Stdout;

    WriteFile(dir_ / "data", "index text!\n");
    r = testsupport::Run(
        {kMinisign, "-V", "-p", (dir_ / "key.pub").string(), "-m", (dir_ / "data").string()});
    EXPECT_NE(r.ExitCode, 0);

    // minisign signs with our secret key file too.
    WriteFile(dir_ / "key.sec", FormatSecretKeyFile(key));
    r = testsupport::Run({kMinisign, "-S", "-s", (dir_ / "key.sec").string(), "-m",
                          (dir_ / "data").string(), "-t", "by minisign"},
                         NoInput());
    ASSERT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
    std::string error;
    auto s = ParseSignatureFile(ReadFile(dir_ / "data.minisig"), error);
    ASSERT_TRUE(s) << error;
    EXPECT_TRUE(VerifySignature(key.PublicKey(), *s, "index text!\n", error)) << error;
}

TEST_F(MinisignInterop, MinisignKeysAndSignaturesWorkHere) {
    RunResult r = testsupport::Run(
        {kMinisign, "-G", "-W", "-p", (dir_ / "k.pub").string(), "-s", (dir_ / "k.sec").string()},
        NoInput());
    ASSERT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
    std::string error;
    auto pub = ParsePublicKeyFile(ReadFile(dir_ / "k.pub"), error);
    ASSERT_TRUE(pub) << error;
    auto sec = ParseSecretKeyFile(ReadFile(dir_ / "k.sec"), error);
    ASSERT_TRUE(sec) << error;
    EXPECT_EQ(sec->PublicKey().Key, pub->Key);
    // minisign names the key in its comment by the same number (without leading zeros).
    const std::string comment =
        ReadFile(dir_ / "k.pub").substr(0, ReadFile(dir_ / "k.pub").find('\n'));
    EXPECT_EQ(std::stoull(KeyIdText(pub->KeyId), nullptr, 16),
              std::stoull(comment.substr(comment.rfind(' ') + 1), nullptr, 16));

    WriteFile(dir_ / "m", "payload\n");
    r = testsupport::Run({kMinisign, "-S", "-s", (dir_ / "k.sec").string(), "-m",
                          (dir_ / "m").string(), "-t", "trusted words"},
                         NoInput());
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    auto s = ParseSignatureFile(ReadFile(dir_ / "m.minisig"), error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->TrustedComment, "trusted words");
    EXPECT_TRUE(VerifySignature(*pub, *s, "payload\n", error)) << error;
    EXPECT_FALSE(VerifySignature(*pub, *s, "payload\r\n", error));

    // Our signature with minisign's secret key verifies with minisign.
    WriteFile(dir_ / "m.minisig", FormatSignatureFile(SignMessage(*sec, "payload\n", "u", "t")));
    r = testsupport::Run(
        {kMinisign, "-V", "-p", (dir_ / "k.pub").string(), "-m", (dir_ / "m").string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
}

}  // namespace
