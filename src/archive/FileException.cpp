#include "archive/FileException.h"

#include <cstring>

CFileException::CFileException(std::string fileName, int osError, std::string operation)
    : FileName(std::move(fileName)), OsError(osError) {
    message_ = "cannot " + operation + " " + FileName;
    if (OsError != 0) message_ += std::string(": ") + std::strerror(OsError);
}
