#pragma once
// The line-and-field reading both repository metadata files share: one record per line, fields
// separated by single blanks, every count and length bounded before anything is kept.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace textrecords {

// Longest line a metadata file may hold, and most lines it may have.
constexpr std::size_t kMaxLineBytes = 4096;
constexpr std::size_t kMaxLines = 1000000;

// Splits `text` into lines ending with "\n" (the last one must end too); false with `error`
// when a line is too long, there are too many or the text does not end with a line break.
bool SplitLines(std::string_view text, std::vector<std::string_view>& lines, std::string& error);

// The blank-separated fields of a line; empty fields (two blanks) make it malformed.
std::optional<std::vector<std::string_view>> Fields(std::string_view line);

// Reads a record file: its first line must be "<magic> 1"; every later line's fields go to
// `record`, which returns an empty text to go on or why the line is refused. False with
// `error` ("line N: why") at the first refusal.
bool ReadRecords(std::string_view text, std::string_view magic,
                 const std::function<std::string(const std::vector<std::string_view>&)>& record,
                 std::string& error);

// A decimal number without sign, leading zeros or overflow.
std::optional<std::uint64_t> ParseDecimal(std::string_view text);

// "2027-01-07T09:15:00Z" <-> seconds since 1970 (UTC).
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(std::int64_t seconds);

// A path inside the repository or the game tree: '/'-separated, relative, no "." or ".."
// components, no empty components, no back-slashes or control characters.
bool IsCleanRelativePath(std::string_view path);

}  // namespace textrecords
