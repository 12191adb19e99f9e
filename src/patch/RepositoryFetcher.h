#pragma once
// Fetches files of a patch repository by their location from its root ("1.00.02/a.bmd"), as
// the signed metadata names them: over HTTP(S) from http://HOST/LOCATION, over FTP below the
// login directory. For the verify-and-repair run of the terminal launcher, which fetches
// single files rather than whole versions.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/DownloadSink.h"

class FtpClient;
class HttpClient;

class RepositoryFetcher {
public:
    virtual ~RepositoryFetcher() = default;
    // The whole file into `target`, replaced only when it arrived whole and as `expected`
    // (a size limit, or the exact size and SHA-256, checked as the bytes arrive).
    virtual bool Fetch(const std::string& location, const std::filesystem::path& target,
                       const DownloadExpectation& expected) = 0;
    // Bytes [offset, offset + length) into `target`. False with RangesRefused() when the
    // server cannot send parts of a file (then fetch the whole of it).
    virtual bool FetchRange(const std::string& location, const std::filesystem::path& target,
                            std::uint64_t offset, std::uint64_t length) = 0;
    virtual bool RangesRefused() const = 0;
    // Where `location` is fetched from, for messages.
    virtual std::string Describe(const std::string& location) const = 0;
    // Why the last fetch failed.
    const std::string& Failure() const { return failure_; }

protected:
    std::string failure_;
};

// `scheme` "http" or "https"; `host` as the connect server named it (with ":port" when not
// the default); `caFile` empty for the system's store.
std::unique_ptr<RepositoryFetcher> MakeHttpFetcher(const std::string& scheme,
                                                   const std::string& host,
                                                   const std::filesystem::path& caFile,
                                                   int stallSeconds);
// Over an FTP connection that is logged in already.
std::unique_ptr<RepositoryFetcher> MakeFtpFetcher(std::shared_ptr<FtpClient> ftp);
