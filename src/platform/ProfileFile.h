#pragma once
// Profile (.ini) files read and edited the way the game's own tools do: the same defaults,
// buffer limits, case-insensitive section and key names, quote stripping, and edits that keep
// every other line and comment of the file. Writes replace the file atomically.

#include <cstddef>
#include <filesystem>

// Copies the value (or `defaultValue`, trailing blanks removed; null means "") into `buffer`
// of `size` bytes, truncated to size - 1 and NUL-terminated; returns the number of characters
// copied, without the NUL. A null section lists the section names, a null key the key names
// of `section`: each name NUL-terminated, the list ended by a second NUL (cut to fit, then
// size - 2 is returned). Size 0 leaves the buffer untouched.
std::size_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                     char* buffer, std::size_t size,
                                     const std::filesystem::path& file);

// Sets `key` in `section` to `value` (creating the file, section or key as needed). A null
// `value` deletes the key, a null `key` deletes the whole section (deleting from a missing
// file leaves an empty file). False on I/O failure, a null section, an empty file name, a
// name or value holding a line break, or a name that would not read back (a section name
// with ']', a key with '=' or starting with '[' or ';').
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const std::filesystem::path& file);
