// The compressed data file restorer over arbitrary bytes (a ".VKC" file from a patch server).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/UnpackFile.h"

namespace {

const std::string& WorkDirectory() {
    static const std::string dir = [] {
        char name[] = "/tmp/fuzz_unpack_XXXXXX";
        if (!mkdtemp(name)) std::abort();
        return std::string(name) + "/";
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string source = WorkDirectory() + "x.att.VKC";
    const std::string output = WorkDirectory() + "x.att";
    std::FILE* f = std::fopen(source.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);

    // A small input may restore to a huge file: stop after a bounded amount of work.
    int pumps = 0;
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    Progress watcher(
        [&](std::uint64_t d, std::uint64_t t) {
            total = t;
            if (d < done || d > total) std::abort();
            done = d;
        },
        [&] { return pumps >= 32; }, std::chrono::milliseconds(0));
    UnpackControl control;
    control.Watcher = &watcher;
    control.PumpOneEvent = [&] { ++pumps; };
    const int result = UnpackFile(control, source, WorkDirectory());
    if (result != 0 && result != 1) std::abort();
    if (result == 1 && done != total) std::abort();
    std::remove(output.c_str());
    std::remove(source.c_str());
    return 0;
}
