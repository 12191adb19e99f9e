#pragma once
// printf-style message boxes. A format that comes from the text table is a text from a file:
// use it only after FormatConversionsAre has confirmed it takes exactly the arguments given.

#include <string>
#include <string_view>

#include "platform/MessageBox.h"

// The text of `format` with its arguments, cut to 1023 bytes.
std::string FormatMessageText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True when the conversions of `format` are, in order, exactly those in `expected` (one
// letter each: 'd' for an int conversion (d or i), 's' for a string, 'u', 'x', 'c'), without
// flags other than '-', '0', ' ', '+', a width or precision given as digits, and no length
// modifiers; "%%" is allowed anywhere.
bool FormatConversionsAre(std::string_view format, std::string_view expected);

// A plain box (OK, no icon) captioned with message 128. Returns 1, the OK button's result.
int ShowFormattedMessage(const MessageBoxFunction& show, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
