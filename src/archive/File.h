#pragma once
// A file handle in the manner of the framework's file object: open, seek, read, write, close,
// and the path it was opened with. Failures throw CFileException; a read returns what it got.

#include <cstddef>
#include <cstdint>
#include <string>

class CFile {
public:
    enum OpenMode { modeRead, modeCreate };  // modeCreate truncates or creates, write-only

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // False (errno kept in LastError) when the file cannot be opened.
    bool Open(const std::string& path, OpenMode mode);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    std::uint64_t GetLength() const;
    void Seek(std::uint64_t offset);
    // Reads up to `size` bytes, retrying short reads; fewer only at the end of the file.
    std::size_t Read(void* buffer, std::size_t size);
    void Write(const void* buffer, std::size_t size);
    // Reads up to `size` bytes at `offset` without moving the file position; fewer only at the
    // end of the file.
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size);

    const std::string& GetFilePath() const { return path_; }
    int Descriptor() const { return fd_; }
    int LastError() const { return lastError_; }

private:
    int fd_ = -1;
    int lastError_ = 0;
    std::string path_;
};
