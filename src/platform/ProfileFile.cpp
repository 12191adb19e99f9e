#include "platform/ProfileFile.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileContents.h"
#include "platform/ProfileDocument.h"

namespace {

// Profile files are small; anything larger is not one of ours and is left alone.
constexpr std::uintmax_t kMaxProfileBytes = 16u * 1024u * 1024u;

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
    return ReadFileContents(file, kMaxProfileBytes);
}

std::size_t CopyTruncated(std::string_view text, char* buffer, std::size_t size) {
    const std::size_t n = std::min(text.size(), size - 1);
    if (n > 0) std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

// A list of names, each NUL-terminated, the whole ended by one more NUL. When it does not fit,
// the last name is cut so that the list still ends in two NULs; the count then is size - 2.
std::size_t CopyNameList(const std::vector<std::string>& names, char* buffer, std::size_t size) {
    std::string list;
    for (const std::string& name : names) {
        list += name;
        list += '\0';
    }
    if (list.empty()) {
        buffer[0] = '\0';
        return 0;
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return list.size();
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

std::string_view WithoutTrailingBlanks(const char* text) {
    std::string_view view = text ? std::string_view(text) : std::string_view();
    while (!view.empty() && (view.back() == ' ' || view.back() == '\t')) view.remove_suffix(1);
    return view;
}

// A line end inside a name or value would add lines of its own to the file.
bool SafeText(const char* text) {
    return !text || std::strpbrk(text, "\r\n") == nullptr;
}

// Names that would read back as something else: a section name holding ']', a key holding
// '=' or starting like a section header or a comment.
bool StorableNames(const char* section, const char* key) {
    if (std::strchr(section, ']')) return false;
    if (!key) return true;
    std::string_view name(key);
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
    return name.find('=') == std::string_view::npos &&
           (name.empty() || (name.front() != '[' && name.front() != ';'));
}

}  // namespace

std::size_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                     char* buffer, std::size_t size,
                                     const std::filesystem::path& file) {
    if (!buffer || size == 0) return 0;
    const std::optional<std::string> bytes = ReadWholeFile(file);
    const ProfileDocument document(bytes ? std::string_view(*bytes) : std::string_view());

    if (!section) return CopyNameList(document.SectionNames(), buffer, size);
    if (!key) return CopyNameList(document.KeyNames(section), buffer, size);

    if (const auto value = document.Get(section, key)) return CopyTruncated(*value, buffer, size);
    return CopyTruncated(WithoutTrailingBlanks(defaultValue), buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const std::filesystem::path& file) {
    if (!section || file.empty()) return false;
    if (!SafeText(section) || !SafeText(key) || !SafeText(value)) return false;
    if (!StorableNames(section, key)) return false;

    std::error_code ec;
    const bool exists = std::filesystem::exists(file, ec);
    const std::optional<std::string> bytes = exists ? ReadWholeFile(file) : std::string();
    if (!bytes) return false;

    ProfileDocument document(*bytes);
    if (!key) {
        document.DeleteSection(section);
    } else if (!value) {
        document.DeleteKey(section, key);
    } else {
        document.Set(section, key, value);
    }
    const std::string updated = document.Bytes();
    if (exists && updated == *bytes) return true;
    return WriteFileAtomically(file, updated);
}
