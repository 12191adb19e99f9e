#pragma once
// Whole reads and writes on a POSIX descriptor, retrying after signals and short writes.

#include <sys/types.h>

#include <cstddef>

// Writes all `size` bytes; false on the first error.
bool WriteAll(int fd, const void* data, std::size_t size);

// One read(), repeated while a signal interrupts it; the byte count, 0 at end, -1 on error.
ssize_t ReadSome(int fd, void* buffer, std::size_t size);
