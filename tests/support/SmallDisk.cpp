#include "support/SmallDisk.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {

std::string SizeOption(std::uint64_t bytes) {
    return "size=" + std::to_string(bytes) + ",mode=0755";
}

}  // namespace

SmallDisk::SmallDisk(std::uint64_t bytes) {
    const std::string options = SizeOption(bytes);
    mounted_ = ::mount("torvane-test", mountPoint_.Path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                       options.c_str()) == 0;
    if (!mounted_) error_ = errno;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(mountPoint_.Path().c_str(), MNT_DETACH);
}

std::string SmallDisk::SkipReason() {
    SmallDisk probe(64 * kPage);
    if (probe.Mounted()) return "";
    return std::string("cannot mount a tmpfs here (") + std::strerror(probe.error_) +
           "): the disk-full tests need root and the right to mount";
}

bool SmallDisk::Resize(std::uint64_t bytes) {
    const std::string options = SizeOption(bytes);
    return mounted_ && ::mount("torvane-test", mountPoint_.Path().c_str(), "tmpfs",
                               MS_REMOUNT | MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

}  // namespace testsupport
