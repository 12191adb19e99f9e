#include "CompressedFileWriter.h"

#include "platform/DownloadSink.h"

#include <bzlib.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool Compress(std::FILE* in, DownloadSink& out) {
    bz_stream stream{};
    // Block size 9 (900k), default work factor: the same stream for the same input, always.
    if (BZ2_bzCompressInit(&stream, 9, 0, 0) != BZ_OK) return false;
    std::vector<char> input(1 << 16);
    std::vector<char> output(1 << 16);
    bool ok = true;
    bool finishing = false;
    while (ok) {
        if (!finishing && stream.avail_in == 0) {
            std::size_t n = std::fread(input.data(), 1, input.size(), in);
            if (std::ferror(in)) {
                ok = false;
                break;
            }
            stream.next_in = input.data();
            stream.avail_in = static_cast<unsigned>(n);
            if (n == 0) finishing = true;
        }
        stream.next_out = output.data();
        stream.avail_out = static_cast<unsigned>(output.size());
        int rc = BZ2_bzCompress(&stream, finishing ? BZ_FINISH : BZ_RUN);
        std::size_t produced = output.size() - stream.avail_out;
        if (produced && !out.Write(output.data(), produced)) ok = false;
        if (rc == BZ_STREAM_END) break;
        if (rc != BZ_RUN_OK && rc != BZ_FINISH_OK) ok = false;
    }
    BZ2_bzCompressEnd(&stream);
    return ok;
}

}  // namespace

bool WriteCompressedFile(const std::filesystem::path& source, const std::filesystem::path& target) {
    FilePtr in(std::fopen(source.c_str(), "rb"));
    if (!in) return false;
    DownloadSink out(target);
    // The version directory is flushed whole before it is published.
    out.SetWriteBackStarted();
    return out.Open() && Compress(in.get(), out) && out.Commit();
}
