#include "archive/UnpackFile.h"

#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/DescriptorIo.h"

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    bool Close() {
        if (fd_ < 0) return true;
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

std::string::size_type LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

}  // namespace

std::string UnpackedFilePath(const std::string& sourcePath,
                             const std::string& destinationDirectory) {
    const auto destinationCut = LastSeparator(destinationDirectory);
    const std::string directory = destinationCut == std::string::npos
                                      ? std::string()
                                      : destinationDirectory.substr(0, destinationCut + 1);
    const auto sourceCut = LastSeparator(sourcePath);
    std::string name =
        sourceCut == std::string::npos ? sourcePath : sourcePath.substr(sourceCut + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    return directory + name;
}

int UnpackFile(const UnpackControl& control, const std::string& sourcePath,
               const std::string& destinationDirectory) {
    const std::string outputPath = UnpackedFilePath(sourcePath, destinationDirectory);

    FileDescriptor input(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input.Valid()) return 0;
    struct stat inputStat {};
    if (::fstat(input.Get(), &inputStat) != 0 || !S_ISREG(inputStat.st_mode)) return 0;
    // A source without an extension would be restored onto itself and truncated before it
    // was read.
    struct stat outputStat {};
    if (::stat(outputPath.c_str(), &outputStat) == 0 && outputStat.st_dev == inputStat.st_dev &&
        outputStat.st_ino == inputStat.st_ino)
        return 0;
    FileDescriptor output(
        ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!output.Valid()) return 0;

    const auto size = static_cast<std::uint64_t>(inputStat.st_size);

    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return 0;
    bool decompressorLive = true;
    auto release = [&]() -> bool {
        if (!decompressorLive) return true;
        decompressorLive = false;
        return BZ2_bzDecompressEnd(&stream) == BZ_OK;
    };
    auto fail = [&]() {
        release();
        return 0;
    };
    auto stopRequested = [&]() {
        if (control.PumpOneEvent) control.PumpOneEvent();
        return control.Watcher && control.Watcher->Cancelled();
    };
    auto consumed = [&]() {
        return (static_cast<std::uint64_t>(stream.total_in_hi32) << 32) | stream.total_in_lo32;
    };
    auto stop = [&]() {
        release();
        input.Close();
        output.Close();
        ::unlink(outputPath.c_str());
        return 0;
    };

    std::vector<char> in(kUnpackInputBufferSize);
    std::vector<char> out(kUnpackOutputBufferSize);
    bool streamEnded = false;
    for (;;) {
        const ssize_t got = ReadSome(input.Get(), in.data(), in.size());
        if (got < 0) return fail();
        if (got == 0) break;
        // Nothing may follow the end of the stream.
        if (streamEnded) return fail();
        stream.next_in = in.data();
        stream.avail_in = static_cast<unsigned>(got);
        for (;;) {
            stream.next_out = out.data();
            stream.avail_out = static_cast<unsigned>(out.size());
            const int result = BZ2_bzDecompress(&stream);
            if (result != BZ_OK && result != BZ_STREAM_END) return fail();
            const std::size_t produced = out.size() - stream.avail_out;
            if (produced > 0 && !WriteAll(output.Get(), out.data(), produced)) return fail();
            if (result == BZ_STREAM_END) {
                streamEnded = true;
                if (stream.avail_in > 0) return fail();
                break;
            }
            // A full output buffer may leave restored bytes inside the decompressor even when
            // the input chunk is used up: drain them before reading on.
            if (stream.avail_in == 0 && stream.avail_out != 0) break;
            if (stopRequested()) return stop();
        }
        if (stopRequested()) return stop();
        if (control.Watcher) control.Watcher->Report(consumed(), size);
    }
    if (control.Watcher && streamEnded) control.Watcher->Finish(consumed(), size);

    const bool released = release();
    input.Close();
    const bool written = output.Close();
    // A stream cut short never reports its end: such a file is not restored.
    return streamEnded && released && written ? 1 : 0;
}
