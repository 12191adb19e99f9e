#pragma once
// ASCII-only text rules shared by the file formats the launcher reads (profile files, registry
// exports, settings files, list files, game paths): letters compare without regard to ASCII
// case, bytes above 127 compare as they are, and nothing depends on the C locale.

#include <string>
#include <string_view>

// What isspace() accepts in the C locale.
inline constexpr std::string_view kAsciiSpace = " \t\n\v\f\r";

char AsciiLower(char c);
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// `text` without the characters of `blanks` at either end.
std::string_view TrimAscii(std::string_view text, std::string_view blanks = kAsciiSpace);
