// The last bytes of a remote archive as a server might send them: whatever they hold, the
// directory found lies inside the archive and before its end record.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "archive/ZipEndRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    // The first eight bytes choose how much archive lies before the tail.
    std::uint64_t before = 0;
    for (int i = 0; i < 8; ++i) before = (before << 8) | data[i];
    before >>= 16;
    const std::string_view tail(reinterpret_cast<const char*>(data + 8), size - 8);
    const std::uint64_t archiveSize = before + tail.size();
    const auto where = FindCentralDirectory(tail, archiveSize);
    if (where && (where->Offset > archiveSize || where->Size > archiveSize - where->Offset))
        std::abort();
    return 0;
}
