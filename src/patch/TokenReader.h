#pragma once
// The tokenizer shared by the version list and "list.inf".
//
// Names are either quoted ("1.00.05", "Data\Player") or start with a letter and run on over
// letters, digits, '.' and '_'; "#KEY#" is a key; '@' marks a deletion; numbers are runs of
// digits, '.' and '-' (the character ending a number is swallowed with it); "//" comments run
// to the end of the line. Everything else is a one-character token.
//
// Tokens are bounded: text beyond kMaxTokenText bytes is consumed and dropped, and
// TokenTruncated() says so, so that a caller can refuse a name it could not hold whole.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The bytes of a token file, or nullopt when it cannot be read or exceeds the size bound.
std::optional<std::string> ReadTokenFileText(const std::filesystem::path& file);

enum TokenKind : int {
    TokenName = 0,
    TokenNumber = 1,
    TokenEnd = 2,
    TokenKey = 35,
    TokenComma = 44,
    TokenSemicolon = 59,
    TokenDelete = 60,
    TokenOther = 61,
    TokenOpenBrace = 123,
    TokenCloseBrace = 125,
};

class CTokenReader {
public:
    static constexpr std::size_t kMaxTokenText = 259;  // a full path on Windows (MAX_PATH)
    static constexpr std::uintmax_t kMaxFileSize = 16u << 20;

    // Reads the whole file; false (nothing open) when it cannot be read or is absurdly large.
    bool OpenTokenFile(const std::filesystem::path& file);
    // Tokenizes `text` as if it were a file's contents.
    void OpenTokenText(std::string text);
    void CloseTokenFile();
    bool IsOpen() const { return open_; }

    // The next token; TokenEnd at the end (and on every call after it, and when nothing is
    // open).
    TokenKind ReadToken();

    const std::string& TokenText() const { return text_; }
    float TokenValue() const { return value_; }
    bool TokenTruncated() const { return truncated_; }

private:
    int Get();
    void Unget();
    void Append(char c);

    std::string data_;
    std::size_t pos_ = 0;
    bool open_ = false;
    std::string text_;
    float value_ = 0.0f;
    bool truncated_ = false;
};
