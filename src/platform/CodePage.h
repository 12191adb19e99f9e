#pragma once
// Text conversion between the deployment's code page (the game's texts are stored as bytes
// in, e.g., CP949) and UTF-8, for display and for the operator tools. Bytes that do not
// convert become U+FFFD (decoding) or '?' (encoding); conversion never fails.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

std::string DecodeToUtf8(std::string_view bytes, const std::string& codePage);
std::string EncodeFromUtf8(std::string_view utf8, const std::string& codePage);

// The longest prefix of `bytes`, at most `limit` bytes long, that does not end inside a
// character of `codePage` (a double-byte character is never cut in half). Bytes that do not
// form characters count one by one.
std::size_t FitToCharacters(std::string_view bytes, std::size_t limit, const std::string& codePage);

// Exact conversions between the code page and UTF-16 (as Windows keeps texts), for stores
// where a changed byte would be a wrong value: nullopt when a byte sequence does not form a
// character of the code page (or a UTF-16 character has no place in it). `badOffset`, when
// given, receives the position of the first offending byte or UTF-16 unit.
std::optional<std::u16string> DecodeToUtf16(std::string_view bytes, const std::string& codePage,
                                            std::size_t* badOffset = nullptr);
std::optional<std::string> EncodeFromUtf16(std::u16string_view text, const std::string& codePage,
                                           std::size_t* badOffset = nullptr);
