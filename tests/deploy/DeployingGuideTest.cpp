// docs/deploying.md as an operator follows it on Debian: the nginx server blocks are taken from
// the guide itself and run beside Debian's own default site (this machine's copy), and a
// player's terminal launcher patches through them from the connect server to the newest version.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testing::HasSubstr;

namespace {

const fs::path kDebianDefaultSite = "/etc/nginx/sites-available/default";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Drops every line holding `needle`.
std::string WithoutLines(const std::string& text, const std::string& needle) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        if (line.find(needle) == std::string::npos) out += line;
        start = end;
    }
    return out;
}

// The guide's first code block that starts with "server {": its nginx site.
std::string GuideSite() {
    const std::string guide = testsupport::ReadFile(testsupport::SourcePath("docs/deploying.md"));
    const auto start = guide.find("```\nserver {");
    if (start == std::string::npos) return {};
    const auto end = guide.find("```", start + 4);
    return guide.substr(start + 4, end - start - 4);
}

// nginx on one loopback port with the given sites, as Debian's nginx.conf includes them, and
// what it answers: "BODY STATUS" of GET path with the given Host header.
class Nginx : public testsupport::NginxServer {
public:
    Nginx(const std::vector<std::string>& sites, int port) : NginxServer(sites, port) {}
    std::string Get(const std::string& host, const std::string& path) const {
        auto run = testsupport::Run({"curl", "-s", "-H", "Host: " + host, "-w", " %{http_code}",
                                     "http://127.0.0.1:" + std::to_string(Port()) + path});
        return run.Stdout;
    }
};

// The guide's vsftpd configuration for the repository.
std::string GuideVsftpd() {
    const std::string guide = testsupport::ReadFile(testsupport::SourcePath("docs/deploying.md"));
    const auto start = guide.find("```\n# /etc/vsftpd-torvane.conf\n");
    if (start == std::string::npos) return {};
    const auto end = guide.find("```", start + 4);
    return guide.substr(start + 4, end - start - 4);
}

// What vsftpd needs inside a container (no namespaces, no seccomp), and quiet logs; later lines
// override earlier ones.
const char* const kContainerLines =
    "\nbackground=NO\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
    "xferlog_enable=NO\nsyslog_enable=NO\n";

class DeployingGuide : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists("/usr/sbin/nginx") || !fs::exists(kDebianDefaultSite))
            GTEST_SKIP() << "needs Debian's nginx package (/usr/sbin/nginx and its default site)";
        if (!fs::exists("/usr/bin/curl")) GTEST_SKIP() << "needs curl";
        port_ = testsupport::FreeLoopbackPort();
        site_ = GuideSite();
        ASSERT_THAT(site_, HasSubstr("listen 80 default_server;")) << "the guide changed";
        ReplaceAll(site_, "listen 80", "listen 127.0.0.1:" + std::to_string(port_));
        site_ = WithoutLines(site_, "listen [::]:80");
        ReplaceAll(site_, "/srv/torvane/repo", (work_ / "repo").string());
        ReplaceAll(site_, "/srv/torvane/news", (work_ / "news").string());

        // Debian's default site on the same port, as the package leaves it.
        debianSite_ = testsupport::ReadFile(kDebianDefaultSite);
        ReplaceAll(debianSite_, "listen 80 default_server",
                   "listen 127.0.0.1:" + std::to_string(port_) + " default_server");
        debianSite_ = WithoutLines(debianSite_, "listen [::]:80");

        testsupport::WriteFile(work_ / "news/gg.htm", "<p>Welcome back!</p>\n");
        testsupport::WriteFile(work_ / "tree/Data/hero.bmd", "hero 2");
        auto add = testsupport::Run({testsupport::ProgramPath("torvane-publish").string(), "add",
                                     (work_ / "repo").string(), "--label", "1.00.02", "--to",
                                     (work_ / "tree").string(), "--packed"});
        ASSERT_EQ(add.ExitCode, 0) << add.Stderr;
    }

    int port_ = 0;
    testsupport::TempDir work_;
    std::string site_;
    std::string debianSite_;
};

TEST_F(DeployingGuide, DebiansDefaultSiteAnswers404UntilTheGuidesBlockIsTheDefault) {
    // The trap: a block for the repository beside Debian's default site, not the default.
    std::string plain = site_;
    ReplaceAll(plain, " default_server", "");
    {
        Nginx nginx({debianSite_, plain}, port_);
        ASSERT_TRUE(nginx.Ready()) << nginx.Log();
        EXPECT_THAT(nginx.Get("127.0.0.1:" + std::to_string(port_), "/version.wvd"),
                    testing::EndsWith(" 404"));
        // Only the name the block lists reaches it.
        EXPECT_EQ(nginx.Get("patch.example.net", "/version.wvd"), "\"1.00.02\"\n 200");
    }
    // With both blocks claiming default_server nginx refuses to start: hence the guide's rm.
    {
        Nginx both({debianSite_, site_}, port_);
        EXPECT_FALSE(both.Ready());
        EXPECT_THAT(both.Log(), HasSubstr("duplicate default server"));
    }
    // The guide: its block is the default, Debian's site is switched off.
    Nginx nginx({site_}, port_);
    ASSERT_TRUE(nginx.Ready()) << nginx.Log();
    EXPECT_EQ(nginx.Get("127.0.0.1:" + std::to_string(port_), "/version.wvd"), "\"1.00.02\"\n 200");
    EXPECT_EQ(nginx.Get("news.example.net", "/gg.htm"), "<p>Welcome back!</p>\n 200");
    EXPECT_THAT(nginx.Get("127.0.0.1", "/.1.00.03.partial-1/list.inf"), testing::EndsWith(" 403"));
}

TEST_F(DeployingGuide, APlayersLauncherPatchesToTheNewestVersionThroughTheGuidesSetUp) {
    for (const char* program : {"torvane-cli", "torvane-connectd"}) {
        if (!fs::exists(testsupport::ProgramPath(program)))
            GTEST_SKIP() << program << " is not built";
    }
    Nginx nginx({site_}, port_);
    ASSERT_TRUE(nginx.Ready()) << nginx.Log();

    // The production connect server off 127.0.0.1: on ::1, so the launcher takes the IPv6 path.
    const std::string listen = testsupport::HasIpv6Loopback() ? "::1" : "127.0.0.1";
    testsupport::ConnectdServer connectd(work_.Path(),
                                         "server.0.name = Alpha\nserver.0.address = 127.0.0.1\n"
                                         "server.0.port = 55901\npatch = http\n"
                                         "patch_host = 127.0.0.1:" +
                                             std::to_string(port_) +
                                             "\npatch_version_file = version.wvd\n",
                                         0, listen);
    ASSERT_TRUE(connectd.Ready()) << connectd.Failure();
    const int connectPort = connectd.Port();

    testsupport::WriteFile(
        work_ / "torvane.conf",
        "connect_address = " + listen + "\nconnect_port = " + std::to_string(connectPort) +
            "\nnews_host = news.example.net\nregistry_dir = " + (work_ / "registry").string() +
            "\ndesktop_dir = " + (work_ / "desktop").string() + "\nproduct_name = TorvaneGuide" +
            std::to_string(::getpid()) + "\n");
    fs::create_directories(work_ / "game");
    auto run = testsupport::Run(
        {testsupport::ProgramPath("torvane-cli").string(), "--config",
         (work_ / "torvane.conf").string(), "--game-dir", (work_ / "game").string()},
        {}, 300000);
    ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr
                               << testsupport::ReadFile(work_ / "connectd.log");
    EXPECT_EQ(testsupport::ReadFile(work_ / "game/Data/hero.bmd"), "hero 2");
    EXPECT_THAT(testsupport::ReadFile(work_ / "connectd.log"),
                HasSubstr("version 0.0.0, list sent, http patch server"));
}

TEST_F(DeployingGuide, TheRepositorysVsftpdRunsBesideThePackagedInstance) {
    const std::string skip = testsupport::VsftpdServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    if (!fs::exists("/etc/vsftpd.conf")) GTEST_SKIP() << "no packaged /etc/vsftpd.conf";
    std::string guide = GuideVsftpd();
    ASSERT_THAT(guide, HasSubstr("listen_port=21\n")) << "the guide changed";
    ReplaceAll(guide, "/srv/torvane/repo", (work_ / "repo").string());
    testsupport::MakeWorldReadable(work_ / "repo");
    testsupport::MakeWorldReadable(work_.Path());

    // The package's own instance, as Debian configures it, on the port of the trial.
    const int packagedPort = testsupport::FreeLoopbackPort();
    testsupport::WriteFile(work_ / "packaged.conf",
                           testsupport::ReadFile("/etc/vsftpd.conf") + kContainerLines +
                               "listen_port=" + std::to_string(packagedPort) + "\n");
    testsupport::ChildProcess packaged({"/usr/sbin/vsftpd", (work_ / "packaged.conf").string()},
                                       {});
    ASSERT_TRUE(testsupport::WaitForPort(packagedPort));

    // The guide's instance on the same port cannot bind it and ends with status 2.
    std::string clash = guide;
    ReplaceAll(clash, "listen_port=21\n", "listen_port=" + std::to_string(packagedPort) + "\n");
    testsupport::WriteFile(work_ / "clash.conf", clash + kContainerLines);
    auto failed =
        testsupport::Run({"/usr/sbin/vsftpd", (work_ / "clash.conf").string()}, {}, 20000);
    EXPECT_EQ(failed.ExitCode, 2);

    // On a port of its own it serves the repository.
    const int ownPort = testsupport::FreeLoopbackPort();
    std::string own = guide;
    ReplaceAll(own, "listen_port=21\n", "listen_port=" + std::to_string(ownPort) + "\n");
    testsupport::WriteFile(work_ / "own.conf", own + kContainerLines);
    testsupport::ChildProcess repository({"/usr/sbin/vsftpd", (work_ / "own.conf").string()}, {});
    ASSERT_TRUE(testsupport::WaitForPort(ownPort));
    auto fetched = testsupport::Run(
        {"curl", "-s", "ftp://127.0.0.1:" + std::to_string(ownPort) + "/version.wvd"});
    EXPECT_EQ(fetched.Stdout, "\"1.00.02\"\n");
}

}  // namespace
