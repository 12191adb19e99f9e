#pragma once
// Texts of the message table that the program fills in with printf-style conversions. The
// table is a file the user can edit, so its text is checked before it is used as a format.

#include <string>

// Formats `format` with `value` when its only conversion is one integer conversion
// (d, i, u, x, X, o, c with flags, width and precision, no '*'), or when it has none.
// Any other text is shown as it stands with the number appended, never used as a format.
std::string FormatWithNumber(const std::string& format, int value);

// True when `format` holds exactly one integer conversion as FormatWithNumber accepts it, so
// that the number is shown. torvane-tool wtf build refuses texts the launcher would not fill.
bool TakesOneNumber(const std::string& format);
