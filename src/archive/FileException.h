#pragma once
// A file could not be opened, positioned, read, written or stamped. Thrown by value by the
// archive file object and the zip reader, caught by reference.

#include <exception>
#include <string>

class CFileException : public std::exception {
public:
    CFileException(std::string fileName, int osError, std::string operation);

    const char* what() const noexcept override { return message_.c_str(); }

    std::string FileName;
    int OsError;  // errno, 0 when the operation failed without one

private:
    std::string message_;
};
