#include "ToolText.h"

#include <iconv.h>

#include <cerrno>

namespace {

class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (Valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible; stops at an invalid or incomplete sequence, leaving
    // `in`/`left` on it. False on such a stop.
    bool Run(const char*& in, std::size_t& left, std::string& out) {
        char buffer[4096];
        while (left > 0) {
            char* inPtr = const_cast<char*>(in);
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t r = iconv(cd_, &inPtr, &left, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            in = inPtr;
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
        }
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

bool CodePageKnown(const std::string& codePage) {
    return Converter("UTF-8", codePage).Valid();
}

std::optional<std::string> EncodeStrict(std::string_view utf8, const std::string& codePage) {
    Converter converter(codePage, "UTF-8");
    if (!converter.Valid()) return std::nullopt;
    const char* in = utf8.data();
    std::size_t left = utf8.size();
    std::string out;
    if (!converter.Run(in, left, out)) return std::nullopt;
    return out;
}

std::string DecodeLenient(std::string_view bytes, const std::string& codePage) {
    Converter converter("UTF-8", codePage);
    if (!converter.Valid()) return std::string(bytes);
    const char* in = bytes.data();
    std::size_t left = bytes.size();
    std::string out;
    while (!converter.Run(in, left, out)) {
        out += "\xEF\xBF\xBD";
        ++in;
        --left;
    }
    return out;
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
