#include "net/MessageFormat.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

enum class Conversions { None, OneInteger, Unsafe };

// Width and precision stay small: a huge one would make the text itself huge.
bool SkipSmallNumber(const std::string& format, std::size_t* i) {
    int value = 0;
    while (*i < format.size() && format[*i] >= '0' && format[*i] <= '9') {
        value = value * 10 + (format[*i] - '0');
        if (value > 256) return false;
        ++*i;
    }
    return true;
}

Conversions Inspect(const std::string& format) {
    int integers = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        ++i;
        if (i < format.size() && format[i] == '%') continue;
        while (i < format.size() && std::strchr("-+ #0", format[i]) != nullptr) ++i;
        if (!SkipSmallNumber(format, &i)) return Conversions::Unsafe;
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (!SkipSmallNumber(format, &i)) return Conversions::Unsafe;
        }
        if (i >= format.size() || std::strchr("diuxXoc", format[i]) == nullptr) {
            return Conversions::Unsafe;
        }
        ++integers;
    }
    if (integers == 0) return Conversions::None;
    return integers == 1 ? Conversions::OneInteger : Conversions::Unsafe;
}

}  // namespace

std::string FormatWithNumber(const std::string& format, int value) {
    // A NUL inside the text would cut the format short of what was checked.
    if (format.find('\0') != std::string::npos) return format + " " + std::to_string(value);
    switch (Inspect(format)) {
        case Conversions::None: {
            std::string text;
            for (std::size_t i = 0; i < format.size(); ++i) {
                text.push_back(format[i]);
                if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') ++i;
            }
            return text;
        }
        case Conversions::OneInteger: {
            const int needed = std::snprintf(nullptr, 0, format.c_str(), value);
            if (needed < 0 || needed > 1023) break;  // message boxes hold 1024 bytes
            std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
            std::snprintf(buffer.data(), buffer.size(), format.c_str(), value);
            return std::string(buffer.data(), static_cast<std::size_t>(needed));
        }
        case Conversions::Unsafe:
            break;
    }
    return format + " " + std::to_string(value);
}

bool TakesOneNumber(const std::string& format) {
    return format.find('\0') == std::string::npos && Inspect(format) == Conversions::OneInteger;
}
