#pragma once
// Version labels as an operator writes them and as the launcher reads them back. A label is at
// the same time the version list's entry and the name of the patch's directory.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct LabelVersion {
    int Major = 0;
    int Minor = 0;
    int Build = 0;
    std::int32_t Packed() const { return Major * 65536 + Minor * 256 + Build; }
    std::string Text() const;  // "1.4.5"
};

// The version the launcher reads from `label` (its own reading rules).
LabelVersion ReadLabelVersion(const std::string& label);

// Empty when `label` is one an operator may publish: at most 8 characters, three decimal
// numbers 0 to 255 joined by single dots, so that the launcher reads the version that is
// written. Otherwise the reason.
std::string LabelProblem(const std::string& label);

struct VersionListEntryText {
    std::string Label;
    LabelVersion Version;
};

// The version list's entries as the launcher reads them; nullopt (with `error`) when the file
// cannot be read or holds more entries than the launcher accepts.
std::optional<std::vector<VersionListEntryText>> ReadVersionListFile(
    const std::filesystem::path& file, std::string& error);

// The most entries a version list may hold before the launcher refuses it.
constexpr std::size_t kMaxVersionListEntries = 999;
