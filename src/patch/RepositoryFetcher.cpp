#include "patch/RepositoryFetcher.h"

#include "platform/FtpClient.h"
#include "platform/HttpClient.h"

namespace {

class HttpFetcher : public RepositoryFetcher {
public:
    HttpFetcher(std::string scheme, std::string host, const std::filesystem::path& caFile,
                int stallSeconds)
        : scheme_(std::move(scheme)),
          host_(std::move(host)),
          client_(HttpClient::Options(stallSeconds, caFile)) {}

    bool Fetch(const std::string& location, const std::filesystem::path& target,
               const DownloadExpectation& expected) override {
        refused_ = false;
        return Done(client_.Download(Url(location), target, nullptr, expected), location);
    }
    bool FetchRange(const std::string& location, const std::filesystem::path& target,
                    std::uint64_t offset, std::uint64_t length) override {
        const auto result = client_.DownloadRange(Url(location), target, offset, length);
        refused_ = client_.RangeRefused();
        return Done(result, location);
    }
    bool RangesRefused() const override { return refused_; }
    std::string Describe(const std::string& location) const override { return Url(location); }

private:
    std::string Url(const std::string& location) const {
        return scheme_ + "://" + host_ + "/" + location;
    }
    bool Done(HttpClient::Result result, const std::string& location) {
        if (result == HttpClient::Result::Ok) return true;
        failure_ = Url(location) + ": " + client_.LastErrorText();
        return false;
    }

    std::string scheme_;
    std::string host_;
    HttpClient client_;
    bool refused_ = false;
};

class FtpFetcher : public RepositoryFetcher {
public:
    explicit FtpFetcher(std::shared_ptr<FtpClient> ftp)
        : ftp_(std::move(ftp)), login_(ftp_->GetCurrentDirectory()) {}

    bool Fetch(const std::string& location, const std::filesystem::path& target,
               const DownloadExpectation& expected) override {
        // Locations use '/'; the client takes one plain name per download, so the directories
        // are entered one by one from the login directory.
        const auto slash = location.rfind('/');
        const std::string name = slash == std::string::npos ? location : location.substr(slash + 1);
        if (!ftp_->SetCurrentDirectory(login_)) return Fail(location);
        std::size_t start = 0;
        while (slash != std::string::npos && start < slash) {
            const auto end = location.find('/', start);
            if (!ftp_->SetCurrentDirectory(location.substr(start, end - start)))
                return Fail(location);
            start = end + 1;
        }
        if (!ftp_->GetFile(name, target, expected)) return Fail(location);
        return true;
    }
    // Parts of files are not fetched over FTP: the whole file is.
    bool FetchRange(const std::string&, const std::filesystem::path&, std::uint64_t,
                    std::uint64_t) override {
        failure_ = "byte ranges are not fetched over FTP";
        return false;
    }
    bool RangesRefused() const override { return true; }
    std::string Describe(const std::string& location) const override {
        return "ftp://" + ftp_->ServerName() + "/" + location;
    }

private:
    bool Fail(const std::string& location) {
        failure_ = Describe(location) + ": " + ftp_->LastErrorText();
        return false;
    }

    std::shared_ptr<FtpClient> ftp_;
    std::string login_;
};

}  // namespace

std::unique_ptr<RepositoryFetcher> MakeHttpFetcher(const std::string& scheme,
                                                   const std::string& host,
                                                   const std::filesystem::path& caFile,
                                                   int stallSeconds) {
    return std::make_unique<HttpFetcher>(scheme, host, caFile, stallSeconds);
}

std::unique_ptr<RepositoryFetcher> MakeFtpFetcher(std::shared_ptr<FtpClient> ftp) {
    return std::make_unique<FtpFetcher>(std::move(ftp));
}
