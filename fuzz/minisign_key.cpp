// Public and secret key files as an operator or a deployment might hand them in: parsing stays
// bounded, and an accepted key writes back to a file that reads as the same key.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "trust/Minisign.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (auto pub = ParsePublicKeyFile(text, error)) {
        auto again = ParsePublicKeyFile(FormatPublicKeyFile(*pub), error);
        if (!again || again->Key != pub->Key || again->KeyId != pub->KeyId) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    (void)ParsePublicKeyLine(text, error);
    if (auto sec = ParseSecretKeyFile(text, error)) {
        auto again = ParseSecretKeyFile(FormatSecretKeyFile(*sec), error);
        if (!again || again->Key != sec->Key) std::abort();
    }
    return 0;
}
