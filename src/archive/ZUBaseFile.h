#pragma once
// Shared ground of the zip reader: error reporting through CZipException and the allocation
// hooks handed to zlib. Every block zlib takes through the hooks is recorded, so an object
// abandoned by an exception halfway through inflating still frees it all when destroyed.

#include <cstdint>
#include <unordered_set>

#include "archive/File.h"
#include "archive/ZipException.h"

class CZUBaseFile {
public:
    CZUBaseFile() = default;
    virtual ~CZUBaseFile();
    CZUBaseFile(const CZUBaseFile&) = delete;
    CZUBaseFile& operator=(const CZUBaseFile&) = delete;

    bool IsClosed() const { return file_ == nullptr || !file_->IsOpen(); }

    // Throws the CZipException for an internal code or zlib result.
    [[noreturn]] void ThrowError(int code) const;
    // Returns for Z_OK and Z_NEED_DICT, throws for everything else.
    void CheckZlibResult(int result) const;

    std::size_t TrackedZlibBlocks() const { return zlibBlocks_.size(); }

protected:
    // zlib's alloc_func and free_func; `opaque` is the owning object.
    static void* ZAlloc(void* opaque, unsigned items, unsigned size);
    static void ZFree(void* opaque, void* address);

    CFile* file_ = nullptr;
    std::uint8_t writerFlag_ = 0;
    bool trackZlibMemory_ = true;
    std::unordered_set<void*> zlibBlocks_;
};
