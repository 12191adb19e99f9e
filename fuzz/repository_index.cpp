// "repository.index" as a patch server might send it: parsing stays bounded, and whatever is
// accepted formats to text that parses to the same index.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "trust/RepositoryIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto index = ParseRepositoryIndex(text, error);
    if (!index) {
        if (error.empty()) std::abort();
        return 0;
    }
    const std::string formatted = FormatRepositoryIndex(*index);
    auto again = ParseRepositoryIndex(formatted, error);
    if (!again || FormatRepositoryIndex(*again) != formatted) std::abort();
    for (const auto& v : index->Versions)
        if (v.Label.find('/') != std::string::npos) std::abort();
    return 0;
}
