#include "app/FormattedMessage.h"

#include <cstdarg>
#include <cstdio>

#include "text/MessageNumbers.h"
#include "text/MessageTable.h"

namespace {

constexpr std::size_t kMessageBufferSize = 1024;

std::string FormatV(const char* format, va_list args) {
    char buffer[kMessageBufferSize];
    const int written = std::vsnprintf(buffer, sizeof(buffer), format, args);
    if (written < 0) return std::string();
    return std::string(buffer);
}

}  // namespace

std::string FormatMessageText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}

bool FormatConversionsAre(std::string_view format, std::string_view expected) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (++i == format.size()) return false;
        if (format[i] == '%') continue;
        while (i < format.size() &&
               (format[i] == '-' || format[i] == '0' || format[i] == ' ' || format[i] == '+'))
            ++i;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
        if (i < format.size() && format[i] == '.') {
            ++i;
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
        }
        if (i == format.size()) return false;
        char kind = format[i];
        if (kind == 'i') kind = 'd';
        if (kind != 'd' && kind != 's' && kind != 'u' && kind != 'x' && kind != 'c') return false;
        if (next >= expected.size() || expected[next] != kind) return false;
        ++next;
    }
    return next == expected.size();
}

int ShowFormattedMessage(const MessageBoxFunction& show, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatV(format, args);
    va_end(args);
    if (show) show(text, GetText(kMsgProductCaption), MessageBoxIcon::None);
    return 1;
}
