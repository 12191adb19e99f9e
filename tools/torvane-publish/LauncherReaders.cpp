#include "LauncherReaders.h"

#include <bzlib.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "TreeScan.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace

bool IsCompleteCompressedFile(const std::filesystem::path& file, std::string& error) {
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
    if (!in) {
        error = "cannot be read";
        return false;
    }
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
        error = "cannot be restored (decompressor refused to start)";
        return false;
    }
    std::vector<char> input(12288);
    std::vector<char> output(131072);
    bool ended = false;
    bool ok = true;
    while (ok) {
        std::size_t n = std::fread(input.data(), 1, input.size(), in.get());
        if (n == 0) break;
        if (ended) {
            error = "has data after the end of its bzip2 stream";
            ok = false;
            break;
        }
        stream.next_in = input.data();
        stream.avail_in = static_cast<unsigned>(n);
        while (stream.avail_in > 0 && !ended) {
            stream.next_out = output.data();
            stream.avail_out = static_cast<unsigned>(output.size());
            int rc = BZ2_bzDecompress(&stream);
            if (rc == BZ_STREAM_END) {
                ended = true;
            } else if (rc != BZ_OK) {
                error = "is not a valid bzip2 stream";
                ok = false;
                break;
            }
        }
        if (ok && ended && stream.avail_in > 0) {
            error = "has data after the end of its bzip2 stream";
            ok = false;
        }
    }
    BZ2_bzDecompressEnd(&stream);
    if (ok && !ended) {
        error = "ends before its bzip2 stream does";
        ok = false;
    }
    return ok;
}
