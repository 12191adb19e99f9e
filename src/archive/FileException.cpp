#include "archive/FileException.h"

#include <cstring>

CFileException::CFileException(std::string fileName_, int osError_, std::string operation)
    : fileName(std::move(fileName_)), osError(osError_) {
    message_ = "cannot " + operation + " " + fileName;
    if (osError != 0) message_ += std::string(": ") + std::strerror(osError);
}
