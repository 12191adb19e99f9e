// "list.inf" as a patch server might send it: parsing must stay bounded, and any name that
// GamePath accepts must be a relative path without a ".." component.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "patch/PatchList.h"
#include "patch/TokenReader.h"
#include "platform/GamePath.h"

namespace {

void CheckAccepted(const std::string& name) {
    if (!GamePath::IsSafe(name)) return;
    if (name.front() == '\\' || name.front() == '/') std::abort();
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) std::abort();
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const PatchList list = ParsePatchList(std::string(reinterpret_cast<const char*>(data), size));
    if (list.Items.size() > size) std::abort();
    for (const PatchListItem& item : list.Items) {
        if (item.Name.size() > CTokenReader::kMaxTokenText) std::abort();
        if (item.Subdirectory.size() > CTokenReader::kMaxTokenText) std::abort();
        CheckAccepted(item.Name);
    }
    (void)list.HasTruncatedName();
    return 0;
}
