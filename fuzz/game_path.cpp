// Names from the network: whatever Resolve accepts must stay below the game directory.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/GamePath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    // A root that does not exist: no disk walk, the spelling decides alone.
    static const GamePath game("/nonexistent-torvane-fuzz-root/game");
    const auto resolved = game.Resolve(name);
    if (resolved.has_value() != GamePath::IsSafe(name)) std::abort();
    if (!resolved) return 0;

    const auto normal = resolved->lexically_normal();
    const auto relative = normal.lexically_relative(game.Root());
    if (relative.empty() || *relative.begin() == "..") std::abort();
    for (const auto& part : relative) {
        if (part == "." || part == ".." || part.empty()) std::abort();
    }
    if (normal != *resolved) std::abort();  // nothing for a later step to collapse
    return 0;
}
