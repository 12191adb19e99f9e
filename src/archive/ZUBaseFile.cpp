#include "archive/ZUBaseFile.h"

#include <cstdlib>
#include <limits>

CZUBaseFile::~CZUBaseFile() {
    for (void* block : zlibBlocks_) std::free(block);
    zlibBlocks_.clear();
}

void CZUBaseFile::ThrowError(int code) const {
    throw CZipException(CZipException::CauseForCode(code),
                        IsClosed() ? std::string() : file_->GetFilePath(), writerFlag_);
}

void CZUBaseFile::CheckZlibResult(int result) const {
    if (result == 0 || result == 2) return;
    ThrowError(result);
}

void* CZUBaseFile::ZAlloc(void* opaque, unsigned items, unsigned size) {
    if (size != 0 && items > std::numeric_limits<std::size_t>::max() / size) return nullptr;
    void* block = std::malloc(static_cast<std::size_t>(items) * size);
    auto* self = static_cast<CZUBaseFile*>(opaque);
    if (block && self->trackZlibMemory_) {
        try {
            self->zlibBlocks_.insert(block);
        } catch (...) {
            std::free(block);
            return nullptr;
        }
    }
    return block;
}

void CZUBaseFile::ZFree(void* opaque, void* address) {
    auto* self = static_cast<CZUBaseFile*>(opaque);
    self->zlibBlocks_.erase(address);
    std::free(address);
}
