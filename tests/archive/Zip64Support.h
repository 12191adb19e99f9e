#pragma once
// Making archives with 64-bit records for the reader's tests (Python's zipfile, Info-ZIP's zip
// and tests/archive/make_zip64.py) and reading entries back as streams.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/UnzipFile.h"

namespace zip64test {

constexpr std::uint64_t kFiveGiB = std::uint64_t{5} << 30;

// make_zip64.py with `args`; a failure fails the test.
void MakeWithPython(const std::vector<std::string>& args);
// Info-ZIP's zip -q with `args`, run in `directory`.
void MakeWithInfoZip(const std::filesystem::path& directory, const std::vector<std::string>& args);
// Reads the current entry to its end, comparing each piece with what `expected` fills in for
// the same offset; returns the number of bytes read (short at the first difference).
std::uint64_t StreamCompare(CUnzipFile& zip,
                            const std::function<void(std::uint64_t, char*, std::size_t)>& expected);
std::uint64_t FreeBytes(const std::filesystem::path& where);
// A sparse file of 5 GiB with a few marks, among them one on each side of 4 GiB.
std::filesystem::path MakeSparseSource(const std::filesystem::path& dir);

}  // namespace zip64test
