#include "archive/UnpackFile.h"

#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/DescriptorIo.h"
#include "platform/DownloadSink.h"

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

namespace {

enum class Restored { Complete, Failed, Stopped };

// Decompresses the whole of `input` (a regular file of `size` bytes) through `write`.
template <typename Write>
Restored RestoreStream(const UnpackControl& control, int input, std::uint64_t size, Write write) {
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return Restored::Failed;
    bool decompressorLive = true;
    auto release = [&]() -> bool {
        if (!decompressorLive) return true;
        decompressorLive = false;
        return BZ2_bzDecompressEnd(&stream) == BZ_OK;
    };
    auto fail = [&]() {
        release();
        return Restored::Failed;
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
        return Restored::Stopped;
    };

    std::vector<char> in(kUnpackInputBufferSize);
    std::vector<char> out(kUnpackOutputBufferSize);
    bool streamEnded = false;
    for (;;) {
        const ssize_t got = ReadSome(input, in.data(), in.size());
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
            if (produced > 0 && !write(out.data(), produced)) return fail();
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
    // A stream cut short never reports its end: such a file is not restored.
    return release() && streamEnded ? Restored::Complete : Restored::Failed;
}

// The compressed file open for reading, with its size; false when it is not a regular file.
bool OpenSource(FileDescriptor& input, struct stat& st) {
    if (!input.Valid()) return false;
    return ::fstat(input.Get(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int UnpackFile(const UnpackControl& control, const std::string& sourcePath,
               const std::string& destinationDirectory) {
    const std::string outputPath = UnpackedFilePath(sourcePath, destinationDirectory);

    FileDescriptor input(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat inputStat {};
    if (!OpenSource(input, inputStat)) return 0;
    // A source without an extension would be restored onto itself and truncated before it
    // was read.
    struct stat outputStat {};
    if (::stat(outputPath.c_str(), &outputStat) == 0 && outputStat.st_dev == inputStat.st_dev &&
        outputStat.st_ino == inputStat.st_ino)
        return 0;
    FileDescriptor output(
        ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!output.Valid()) return 0;

    const Restored result = RestoreStream(
        control, input.Get(), static_cast<std::uint64_t>(inputStat.st_size),
        [&](const char* data, std::size_t size) { return WriteAll(output.Get(), data, size); });
    input.Close();
    const bool written = output.Close();
    if (result == Restored::Stopped) ::unlink(outputPath.c_str());
    return result == Restored::Complete && written ? 1 : 0;
}

int UnpackFileTo(const UnpackControl& control, const std::string& sourcePath, DownloadSink& sink) {
    FileDescriptor input(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat inputStat {};
    if (!OpenSource(input, inputStat)) {
        sink.Abandon();
        return 0;
    }
    const Restored result =
        RestoreStream(control, input.Get(), static_cast<std::uint64_t>(inputStat.st_size),
                      [&](const char* data, std::size_t size) { return sink.Write(data, size); });
    if (result == Restored::Complete) return 1;
    sink.Abandon();
    return 0;
}
