#pragma once
// Text conversion between the deployment's code page (the game's texts are stored as bytes
// in, e.g., CP949) and UTF-8, for display and for the operator tools. Bytes that do not
// convert become U+FFFD (decoding) or '?' (encoding); conversion never fails.

#include <cstddef>
#include <string>
#include <string_view>

std::string DecodeToUtf8(std::string_view bytes, const std::string& codePage);
std::string EncodeFromUtf8(std::string_view utf8, const std::string& codePage);

// The longest prefix of `bytes`, at most `limit` bytes long, that does not end inside a
// character of `codePage` (a double-byte character is never cut in half). Bytes that do not
// form characters count one by one.
std::size_t FitToCharacters(std::string_view bytes, std::size_t limit, const std::string& codePage);
