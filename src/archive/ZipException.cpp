#include "archive/ZipException.h"

CZipException::CZipException(int cause_, std::string archivePath_, std::uint8_t writerFlag_)
    : cause(cause_), archivePath(std::move(archivePath_)), writerFlag(writerFlag_) {
    message_ = "zip error, cause " + std::to_string(cause);
    if (!archivePath.empty()) message_ += " (" + archivePath + ")";
}

int CZipException::CauseForCode(int code) {
    switch (code) {
        case kCodeBadCrc:
            return BadCrc;
        case kCodeBadArchive:
            return BadArchive;
        case kCodeNoEntry:
            return NoEntry;
        case -6:
            return ZlibVersionError;
        case -5:
            return ZlibBufferError;
        case -4:
            return ZlibMemoryError;
        case -3:
            return ZlibDataError;
        case -2:
            return ZlibStreamError;
        case -1:
            return ZlibFileError;
        case 1:
            return StreamEnd;
        case 2:
            return NeedDictionary;
        default:
            return Generic;
    }
}
