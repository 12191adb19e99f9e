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
#include <cstdio>
#include <filesystem>
#include <string>

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

    CTokenReader() = default;
    ~CTokenReader() { CloseTokenFile(); }
    CTokenReader(const CTokenReader&) = delete;
    CTokenReader& operator=(const CTokenReader&) = delete;

    // Opens the file, which is then read in pieces as tokens are asked for, so a list is never
    // held whole; false (nothing open) when it cannot be opened or is absurdly large. Bytes
    // beyond kMaxFileSize (a file that grew) are not read.
    bool OpenTokenFile(const std::filesystem::path& file);
    // Tokenizes `text` as if it were a file's contents.
    void OpenTokenText(std::string text);
    void CloseTokenFile();
    bool IsOpen() const { return open_; }
    // The file could not be read to its end: the tokens seen so far are not the whole file.
    bool ReadFailed() const { return readFailed_; }

    // The next token; TokenEnd at the end (and on every call after it, and when nothing is
    // open).
    TokenKind ReadToken();

    const std::string& TokenText() const { return text_; }
    float TokenValue() const { return value_; }
    bool TokenTruncated() const { return truncated_; }

private:
    int Get();
    bool Refill();
    void Unget();
    void Append(char c);

    // The text given, or the piece of the open file being read.
    std::string data_;
    std::size_t pos_ = 0;
    std::FILE* file_ = nullptr;
    std::uintmax_t fileBytesRead_ = 0;
    bool readFailed_ = false;
    bool open_ = false;
    std::string text_;
    float value_ = 0.0f;
    bool truncated_ = false;
};
