#pragma once
// A small tmpfs mounted on a scratch directory, for tests that fill the disk: its size can be
// changed while mounted, so one test can sweep the point at which a run meets a full disk.
// Needs the right to mount (root); SkipReason says why not when it is missing.

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/TestSupport.h"

namespace testsupport {

class SmallDisk {
public:
    static constexpr std::uint64_t kPage = 4096;  // tmpfs counts whole pages

    explicit SmallDisk(std::uint64_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // Empty when a tmpfs can be mounted here, else why not (for GTEST_SKIP).
    static std::string SkipReason();
    bool Mounted() const { return mounted_; }
    const std::filesystem::path& Path() const { return mountPoint_.Path(); }
    std::filesystem::path operator/(const std::filesystem::path& sub) const { return Path() / sub; }
    // New size limit; false when the files already there need more.
    bool Resize(std::uint64_t bytes);

private:
    TempDir mountPoint_;
    bool mounted_ = false;
    int error_ = 0;  // errno of a failed mount
};

}  // namespace testsupport
