// Directory listings and SIZE replies come straight from the patch server.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/FtpListing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto format : {FtpListingFormat::Machine, FtpListingFormat::List}) {
        for (const FtpFindData& entry : ParseFtpListing(text, format)) {
            if (entry.Name.empty() || entry.Name.size() > size) __builtin_trap();
        }
    }
    if (ParseFtpSizeReply(text) < -1) __builtin_trap();
    return 0;
}
