#include "platform/DescriptorIo.h"

#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

ssize_t ReadSome(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}
