#pragma once
// What the zip reader throws for archive and zlib errors. Thrown by value, caught by reference.
// `cause` is the only thing callers act on; the texts are for logs.

#include <cstdint>
#include <exception>
#include <string>

class CZipException : public std::exception {
public:
    // The causes, in the order the raised codes map onto them.
    enum Cause {
        Generic = 1,
        StreamEnd = 2,
        NeedDictionary = 3,
        ZlibFileError = 4,
        ZlibStreamError = 5,
        ZlibDataError = 6,
        ZlibMemoryError = 7,
        ZlibBufferError = 8,
        ZlibVersionError = 9,
        NoEntry = 10,
        BadArchive = 11,
        BadCrc = 12,
    };

    // The codes raised internally (zlib results and the reader's own three).
    static constexpr int kCodeBadCrc = -105;
    static constexpr int kCodeBadArchive = -103;
    static constexpr int kCodeNoEntry = -102;

    CZipException(int cause, std::string archivePath, std::uint8_t writerFlag);

    static int CauseForCode(int code);

    const char* what() const noexcept override { return message_.c_str(); }

    int cause;
    std::string archivePath;
    std::uint8_t writerFlag;

private:
    std::string message_;
};
