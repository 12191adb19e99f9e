#include "patch/TokenReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

bool CTokenReader::OpenTokenFile(const std::filesystem::path& file) {
    CloseTokenFile();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return false;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxFileSize) return false;
    std::FILE* opened = std::fopen(file.c_str(), "rb");
    if (opened == nullptr) return false;
    OpenTokenText(std::string());
    file_ = opened;
    return true;
}

void CTokenReader::OpenTokenText(std::string text) {
    CloseTokenFile();
    data_ = std::move(text);
    pos_ = 0;
    open_ = true;
    text_.clear();
    value_ = 0.0f;
    truncated_ = false;
}

void CTokenReader::CloseTokenFile() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    fileBytesRead_ = 0;
    readFailed_ = false;
    data_.clear();
    data_.shrink_to_fit();
    pos_ = 0;
    open_ = false;
}

int CTokenReader::Get() {
    if (pos_ >= data_.size() && !Refill()) return kEnd;
    return static_cast<unsigned char>(data_[pos_++]);
}

// The next piece of the open file. Unget only ever follows a Get that returned a byte, and
// that byte is the first of a fresh piece at the latest, so nothing of the last piece is kept.
bool CTokenReader::Refill() {
    if (file_ == nullptr) return false;
    constexpr std::size_t kPiece = 64 * 1024;
    const auto room =
        static_cast<std::size_t>(std::min<std::uintmax_t>(kPiece, kMaxFileSize - fileBytesRead_));
    data_.resize(room);
    const std::size_t got = room == 0 ? 0 : std::fread(data_.data(), 1, room, file_);
    fileBytesRead_ += got;
    data_.resize(got);
    pos_ = 0;
    if (got != 0) return true;
    if (std::ferror(file_) != 0) readFailed_ = true;
    std::fclose(file_);
    file_ = nullptr;
    return false;
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
