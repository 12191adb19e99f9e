#include "ToolText.h"

#include <iconv.h>

#include "platform/CodePage.h"

bool CodePageKnown(const std::string& codePage) {
    const iconv_t cd = iconv_open("UTF-8", codePage.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

std::optional<std::string> EncodeStrict(std::string_view utf8, const std::string& codePage) {
    // The conversion replaces what it cannot encode; a text that does not come back the same
    // lost something on the way.
    std::string encoded = EncodeFromUtf8(utf8, codePage);
    if (DecodeToUtf8(encoded, codePage) != utf8) return std::nullopt;
    return encoded;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '\\':
                out.push_back('\\');
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}
