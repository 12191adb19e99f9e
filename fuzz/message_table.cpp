// The message table loader over arbitrary bytes (a "message.wtf" replaced by a patch).

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/MessageTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("message_table", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    CMessageTable table;
    int boxes = 0;
    table.SetMessageBoxFunction(
        [&](const std::string&, const std::string&, MessageBoxIcon) { ++boxes; });
    table.Load("/proc/self/fd/" + std::to_string(fd));
    std::size_t records = 0;
    for (const MessageNode* node = table.FirstRecord(); node; node = node->Next) {
        const std::size_t length = std::strlen(node->Text);
        if (length == 0 || length > 255) std::abort();
        // Every record came from at least five bytes of the file.
        if (++records * 5 > size) std::abort();
    }
    for (int number : {-32768, -1, 0, 13, 128, 2000, 32766, 32767, 40000}) {
        const char* text = table.GetText(number);
        if (!text) std::abort();
        (void)std::strlen(text);
    }
    (void)boxes;
    return 0;
}
