#pragma once
// A client version: three one-byte numbers, compared through their packed value.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

struct VersionNumber {
    std::uint8_t Major = 0;
    std::uint8_t Minor = 0;
    std::uint8_t Build = 0;

    // Major * 65536 + Minor * 256 + Build; a version is newer when this is greater.
    std::int32_t Packed() const { return (Major << 16) | (Minor << 8) | Build; }

    // Splits at runs of '.', converts the first three pieces like atoi (leading digits, none
    // gives 0) and keeps the low 8 bits of each; missing pieces are 0 ("1.2" is 1.2.0).
    static VersionNumber Parse(std::string_view text);
    static VersionNumber FromPacked(std::int32_t packed);

    // "%d.%02d.%02d", the form config.ini stores ("1.04.05").
    std::string ConfigText() const;
    // "%d.%d.%d", the form patch.log stores ("1.4.5").
    std::string LogText() const;

    friend bool operator==(const VersionNumber&, const VersionNumber&) = default;
};

// A version that one thread moves forward while another reads it: the HTTP session's worker
// sets the client's version after each patch while the window reads it (the connect
// server's greeting, the options dialog). Reads and writes are whole.
class SharedVersion {
public:
    SharedVersion() = default;
    SharedVersion(const SharedVersion&) = delete;
    SharedVersion& operator=(const SharedVersion&) = delete;
    SharedVersion& operator=(const VersionNumber& version) {
        packed_.store(version.Packed());
        return *this;
    }
    operator VersionNumber() const { return Load(); }
    VersionNumber Load() const { return VersionNumber::FromPacked(packed_.load()); }
    std::int32_t Packed() const { return packed_.load(); }
    std::string ConfigText() const { return Load().ConfigText(); }

    friend bool operator==(const SharedVersion& a, const VersionNumber& b) { return a.Load() == b; }

private:
    std::atomic<std::int32_t> packed_{0};
};
