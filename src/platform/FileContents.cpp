#include "platform/FileContents.h"

#include <fstream>
#include <sstream>
#include <system_error>

std::optional<std::string> ReadFileContents(const std::filesystem::path& file,
                                            std::uint64_t limit) {
    if (file.empty()) return std::nullopt;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > limit) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return bytes.str();
}
