#pragma once
// The registry files Wine's regedit reads and writes (UTF-16 little-endian with a byte-order
// mark, "Windows Registry Editor Version 5.00"), used while Wine's server owns a prefix's
// registry: an export ("regedit /E") is read into a WineRegistryFile view, and changes are
// written as import lines ("regedit /S"), texts always as hex(1) data so that every character
// arrives exactly.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/WineRegistryFile.h"

// Adds the keys and values of an export below `rootName` ("HKEY_LOCAL_MACHINE") to `into`.
// False when the bytes are not such an export (`into` may then hold part of it).
bool ReadRegistryExport(std::string_view bytes, std::u16string_view rootName,
                        WineRegistryFile& into, std::int64_t unixTime);

// Import lines of one change each, for the key `path` below `rootName`.
std::u16string ImportKeyLine(std::u16string_view rootName, std::u16string_view path, bool deleting);
std::u16string ImportTextLine(std::u16string_view rootName, std::u16string_view path,
                              std::u16string_view name, std::u16string_view text, bool terminated);
std::u16string ImportDwordLine(std::u16string_view rootName, std::u16string_view path,
                               std::u16string_view name, std::uint32_t value);
std::u16string ImportDeleteValueLine(std::u16string_view rootName, std::u16string_view path,
                                     std::u16string_view name);

// A whole import file of `changes`, as bytes.
std::string RegistryImportBytes(std::u16string_view changes);
