// Signature files as a patch server might send them: parsing stays bounded, verification of
// whatever parses never succeeds against a key that did not sign, and formatting round-trips.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "trust/Minisign.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto signature = ParseSignatureFile(text, error);
    if (!signature) return 0;
    static const MinisignSecretKey key = GenerateSecretKey();
    if (VerifySignature(key.PublicKey(), *signature, text, error)) std::abort();
    auto again = ParseSignatureFile(FormatSignatureFile(*signature), error);
    if (!again || again->Signature != signature->Signature ||
        again->TrustedComment != signature->TrustedComment)
        std::abort();
    return 0;
}
