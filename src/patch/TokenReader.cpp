#include "patch/TokenReader.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>

namespace {

constexpr int kEnd = -1;

// The C library's classification in the "C" locale; bytes above 127 are none of these.
bool IsSpace(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}
bool IsAlpha(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// atof on the collected digits: the longest leading decimal number, 0 without one.
float NumberValue(const std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    double value = 0.0;
    const auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
        return text.front() == '-' ? -HUGE_VALF : HUGE_VALF;
    }
    if (result.ec != std::errc()) return 0.0f;
    // Beyond float's range the narrowing is undefined; the value saturates instead.
    if (value > std::numeric_limits<float>::max()) return HUGE_VALF;
    if (value < -std::numeric_limits<float>::max()) return -HUGE_VALF;
    return static_cast<float>(value);
}

}  // namespace

std::optional<std::string> ReadTokenFileText(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > CTokenReader::kMaxFileSize) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || contents.size() > CTokenReader::kMaxFileSize) return std::nullopt;
    return contents;
}

bool CTokenReader::OpenTokenFile(const std::filesystem::path& file) {
    CloseTokenFile();
    auto contents = ReadTokenFileText(file);
    if (!contents) return false;
    OpenTokenText(std::move(*contents));
    return true;
}

void CTokenReader::OpenTokenText(std::string text) {
    data_ = std::move(text);
    pos_ = 0;
    open_ = true;
    text_.clear();
    value_ = 0.0f;
    truncated_ = false;
}

void CTokenReader::CloseTokenFile() {
    data_.clear();
    data_.shrink_to_fit();
    pos_ = 0;
    open_ = false;
}

int CTokenReader::Get() {
    if (pos_ >= data_.size()) return kEnd;
    return static_cast<unsigned char>(data_[pos_++]);
}

void CTokenReader::Unget() {
    if (pos_ > 0) --pos_;
}

void CTokenReader::Append(char c) {
    if (text_.size() < kMaxTokenText) {
        text_.push_back(c);
    } else {
        truncated_ = true;
    }
}

TokenKind CTokenReader::ReadToken() {
    text_.clear();
    truncated_ = false;
    if (!open_) return TokenEnd;

    int c = 0;
    for (;;) {
        do {
            c = Get();
        } while (c != kEnd && IsSpace(c));
        if (c != '/') break;
        c = Get();
        if (c != '/') break;  // a lone '/' is dropped; the next character stands
        do {
            c = Get();
        } while (c != kEnd && c != '\n');
        if (c == kEnd) break;
    }
    if (c == kEnd) return TokenEnd;

    switch (c) {
        case '"':
        case '#': {
            const int close = c;
            for (;;) {
                const int d = Get();
                if (d == kEnd || d == close) break;
                Append(static_cast<char>(d));
            }
            return close == '"' ? TokenName : TokenKey;
        }
        case ',':
            return TokenComma;
        case ';':
            return TokenSemicolon;
        case '{':
            return TokenOpenBrace;
        case '}':
            return TokenCloseBrace;
        case '@':
            value_ = 0.0f;
            return TokenDelete;
        default:
            break;
    }

    if (c == '-' || c == '.' || IsDigit(c)) {
        Append(static_cast<char>(c));
        for (;;) {
            const int d = Get();
            if (d == '-' || d == '.' || IsDigit(d)) {
                Append(static_cast<char>(d));
                continue;
            }
            break;  // the ending character goes with the number
        }
        value_ = NumberValue(text_);
        return TokenNumber;
    }

    if (IsAlpha(c)) {
        Append(static_cast<char>(c));
        for (;;) {
            const int d = Get();
            if (d != kEnd && (IsAlpha(d) || IsDigit(d) || d == '.' || d == '_')) {
                Append(static_cast<char>(d));
                continue;
            }
            if (d != kEnd) Unget();
            break;
        }
        return TokenName;
    }

    return TokenOther;
}
