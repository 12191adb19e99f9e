#pragma once
// Text helpers of the operator tool: strict code page conversion and the escapes used in
// message source files.

#include <optional>
#include <string>
#include <string_view>

// UTF-8 to `codePage`; nullopt when some character has no encoding there.
std::optional<std::string> EncodeStrict(std::string_view utf8, const std::string& codePage);
// True when iconv knows `codePage`.
bool CodePageKnown(const std::string& codePage);

// "\n", "\t" and "\\" to their characters; nullopt on any other backslash sequence.
std::optional<std::string> Unescape(std::string_view text);
// The inverse, so a dump can be built again.
std::string Escape(std::string_view text);
