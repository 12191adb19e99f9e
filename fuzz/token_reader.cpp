// The token reader over arbitrary bytes (a version list or "list.inf" from a patch server),
// and the version list loader on top of it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "patch/TokenReader.h"
#include "patch/VersionNumber.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CTokenReader reader;
    reader.OpenTokenText(std::string(reinterpret_cast<const char*>(data), size));
    std::size_t tokens = 0;
    for (TokenKind kind; (kind = reader.ReadToken()) != TokenEnd;) {
        if (reader.TokenText().size() > CTokenReader::kMaxTokenText) std::abort();
        if (kind == TokenName) (void)VersionNumber::Parse(reader.TokenText()).Packed();
        // Every token consumes at least one byte.
        if (++tokens > size) std::abort();
    }
    if (reader.ReadToken() != TokenEnd) std::abort();
    return 0;
}
