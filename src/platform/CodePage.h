#pragma once
// Text conversion between the deployment's code page (the game's texts are stored as bytes
// in, e.g., CP949) and UTF-8, for display and for the operator tools. Bytes that do not
// convert become U+FFFD (decoding) or '?' (encoding); conversion never fails.

#include <string>
#include <string_view>

std::string DecodeToUtf8(std::string_view bytes, const std::string& codePage);
std::string EncodeFromUtf8(std::string_view utf8, const std::string& codePage);
