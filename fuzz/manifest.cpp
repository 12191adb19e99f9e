// "<label>/manifest.txt" as a patch server might send it: parsing stays bounded, no accepted
// path or location climbs out with "..", and what is accepted round-trips.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "trust/Manifest.h"
#include "trust/TextRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto manifest = ParseManifest(text, error);
    if (!manifest) {
        if (error.empty()) std::abort();
        return 0;
    }
    for (const auto& f : manifest->Files) {
        if (!textrecords::IsCleanRelativePath(f.Path)) std::abort();
        if (f.Kind != FileSourceKind::None && !textrecords::IsCleanRelativePath(f.Location))
            std::abort();
        if (manifest->Find(f.Path) == nullptr) std::abort();
    }
    const std::string formatted = FormatManifest(*manifest);
    auto again = ParseManifest(formatted, error);
    if (!again || FormatManifest(*again) != formatted) std::abort();
    return 0;
}
