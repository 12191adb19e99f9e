#include "support/PatchServers.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

bool Executable(const char* path) {
    return ::access(path, X_OK) == 0;
}

}  // namespace

std::string LoopbackServer::Log() const {
    return ReadFile(logFile_);
}

std::string LoopbackServer::Failure() const {
    if (!cannotRun_.empty()) return cannotRun_;
    if (ready_) return {};
    return program_ + " did not start: " + Log();
}

void LoopbackServer::Start(std::vector<std::string> argv, std::optional<std::size_t> portArgument) {
    program_ = argv.at(0);
    ChildProcess::Options options;
    options.StderrFile = logFile_;
    const int attempts = portArgument ? 3 : 1;
    for (int attempt = 0; attempt < attempts && !ready_; ++attempt) {
        if (attempt > 0) {
            port_ = FreeLoopbackPort();
            argv.at(*portArgument) = std::to_string(port_);
        }
        child_ = std::make_unique<ChildProcess>(argv, options);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!ready_ && child_->Running() && std::chrono::steady_clock::now() < deadline)
            ready_ = WaitForPort(port_, 250, address_);
    }
}

ConnectdServer::ConnectdServer(const fs::path& dir, const std::string& config, int port,
                               const std::string& address) {
    const bool portChosen = port != 0;
    port_ = portChosen ? port : FreeLoopbackPort();
    address_ = address;
    logFile_ = dir / "connectd.log";
    const fs::path program = ProgramPath("torvane-connectd");
    if (!fs::exists(program)) {
        cannotRun_ = "torvane-connectd is not built";
        return;
    }
    WriteFile(dir / "connectd.conf", config);
    // A port the caller chose is already in its settings: only a free one may be changed.
    Start({program.string(), "--config", (dir / "connectd.conf").string(), "--listen", address_,
           "--port", std::to_string(port_)},
          portChosen ? std::nullopt : std::optional<std::size_t>(6));
}

PyFtpServer::PyFtpServer(const fs::path& root, const FtpServerOptions& options)
    : user_(options.User), password_(options.Password) {
    port_ = FreeLoopbackPort();
    std::vector<std::string> argv = {"/usr/bin/python3",
                                     SourcePath("tests/support/ftp_server.py").string(),
                                     "--port",
                                     std::to_string(port_),
                                     "--root",
                                     root.string(),
                                     "--user",
                                     options.User,
                                     "--password",
                                     options.Password,
                                     "--connections-file",
                                     (scratch_ / "connections").string(),
                                     "--retrievals-file",
                                     (scratch_ / "retrievals").string(),
                                     "--commands-file",
                                     (scratch_ / "commands").string()};
    if (options.DrivePwd) argv.push_back("--drive-pwd");
    if (options.NoMlsd) argv.push_back("--no-mlsd");
    if (options.Stall) argv.push_back("--stall");
    if (options.RefuseRest) argv.push_back("--refuse-rest");
    for (const auto& name : options.StallFiles) {
        argv.push_back("--stall-file");
        argv.push_back(name);
    }
    if (options.SteadyBytesPerSecond > 0) {
        argv.push_back("--steady");
        argv.push_back(std::to_string(options.SteadyBytesPerSecond));
    }
    if (options.SlowBytesPerSecond > 0) {
        argv.push_back("--slow");
        argv.push_back(std::to_string(options.SlowBytesPerSecond));
    }
    for (const auto& [name, count] : options.RefuseRetr) {
        argv.push_back("--refuse-retr");
        argv.push_back(name + ":" + std::to_string(count));
    }
    for (const auto& [name, bytes] : options.Truncate) {
        argv.push_back("--truncate");
        argv.push_back(name + ":" + std::to_string(bytes));
    }
    Start(std::move(argv), 3);
}

int PyFtpServer::ConnectionCount() const {
    std::ifstream in(scratch_ / "connections");
    int count = 0;
    std::string line;
    while (std::getline(in, line)) ++count;
    // The readiness probe of WaitForPort is a connection too.
    return count > 0 ? count - 1 : 0;
}

int PyFtpServer::RetrievalCount(const std::string& name) const {
    std::ifstream in(scratch_ / "retrievals");
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line == name) ++count;
    }
    return count;
}

std::vector<std::string> PyFtpServer::Commands() const {
    std::ifstream in(scratch_ / "commands");
    std::vector<std::string> commands;
    for (std::string line; std::getline(in, line);) commands.push_back(line);
    return commands;
}

std::string PyFtpServer::ConnectdPatchLines() const {
    return "patch = ftp\npatch_host = 127.0.0.1\npatch_port = " + std::to_string(port_) +
           "\npatch_user = " + user_ + "\npatch_password = " + password_ +
           "\npatch_version_file = version.wvd\n";
}

void MakeWorldReadable(const fs::path& root) {
    std::error_code ec;
    fs::permissions(root,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
        const bool dir = entry.is_directory();
        fs::permissions(entry.path(),
                        dir ? fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec
                            : fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::others_read,
                        ec);
    }
}

std::string VsftpdServer::SkipReason() {
    if (!Executable("/usr/sbin/vsftpd")) return "vsftpd is not installed";
    if (::geteuid() != 0) return "vsftpd needs root here";
    if (!::getpwnam("ftp")) return "the ftp account is missing";
    return {};
}

VsftpdServer::VsftpdServer(const fs::path& root, Exposure exposure) {
    cannotRun_ = SkipReason();
    if (!cannotRun_.empty()) return;
    MakeWorldReadable(root);
    // vsftpd wants the parents of its chroot reachable as the ftp user.
    MakeWorldReadable(scratch_.Path());
    port_ = FreeLoopbackPort();
    fs::create_directories(scratch_ / "empty");
    const fs::path config = scratch_ / "vsftpd.conf";
    WriteFile(config,
              "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port_) +
                  "\nbackground=NO\nanonymous_enable=YES\nno_anon_password=YES\n"
                  "local_enable=NO\nwrite_enable=NO\nanon_root=" +
                  root.string() +
                  "\nftp_username=ftp\nsecure_chroot_dir=" + (scratch_ / "empty").string() +
                  "\npasv_enable=YES\nseccomp_sandbox=NO\nisolate=NO\n"
                  "isolate_network=NO\nxferlog_enable=NO\nsyslog_enable=NO\n"
                  "max_clients=0\nmax_per_ip=0\n" +
                  (exposure == Exposure::PublishedOnly ? "hide_file={.*}\ndeny_file={.*}\n" : ""));
    Start({"/usr/sbin/vsftpd", config.string()});
}

std::string NginxServer::SkipReason() {
    if (!Executable("/usr/sbin/nginx")) return "nginx is not installed";
    return {};
}

std::optional<TestCertificates> MakeTestCertificates(const fs::path& dir, std::string& error) {
    TestCertificates files{dir / "ca.pem", dir / "server.pem", dir / "server.key"};
    const std::string curve = "ec_paramgen_curve:prime256v1";
    WriteFile(dir / "server.ext", "subjectAltName=IP:127.0.0.1\n");
    const std::vector<std::vector<std::string>> steps = {
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-keyout",
         (dir / "ca.key").string(), "-out", files.Authority.string(), "-days", "2", "-subj",
         "/CN=Torvane test authority"},
        {"openssl", "req", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-keyout",
         files.Key.string(), "-out", (dir / "server.csr").string(), "-subj", "/CN=127.0.0.1"},
        {"openssl", "x509", "-req", "-in", (dir / "server.csr").string(), "-CA",
         files.Authority.string(), "-CAkey", (dir / "ca.key").string(), "-CAcreateserial", "-out",
         files.Certificate.string(), "-days", "2", "-extfile", (dir / "server.ext").string()},
    };
    for (const auto& step : steps) {
        const RunResult r = Run(step);
        if (r.ExitCode != 0) {
            error = "openssl " + step[1] + " failed: " + r.Stderr;
            return std::nullopt;
        }
    }
    return files;
}

NginxServer::NginxServer(const fs::path& root, const std::optional<TestCertificates>& tls,
                         Exposure exposure, int bytesPerSecond) {
    port_ = FreeLoopbackPort();
    const std::string published =
        exposure == Exposure::PublishedOnly
            ? "    default_type application/octet-stream;\n    location ~ /\\. { deny all; }\n"
              "    location / { add_header Cache-Control \"no-cache\"; }\n"
            : "";
    Launch("  server {\n    listen 127.0.0.1:" + std::to_string(port_) +
           (tls ? " ssl;\n    ssl_certificate " + tls->Certificate.string() +
                      ";\n    ssl_certificate_key " + tls->Key.string()
                : std::string()) +
           ";\n    root " + root.string() + ";\n" + published +
           (bytesPerSecond > 0 ? "    limit_rate " + std::to_string(bytesPerSecond) + ";\n"
                               : std::string()) +
           "  }\n");
}

NginxServer::NginxServer(const std::vector<std::string>& sites, int port) {
    port_ = port;
    std::string includes;
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const fs::path site = scratch_ / ("site" + std::to_string(i));
        WriteFile(site, sites[i]);
        includes += "  include " + site.string() + ";\n";
    }
    Launch(includes);
}

void NginxServer::Launch(const std::string& servers) {
    cannotRun_ = SkipReason();
    if (!cannotRun_.empty()) return;
    const fs::path dir = scratch_.Path();
    fs::create_directories(dir / "logs");
    const fs::path config = dir / "nginx.conf";
    const std::string user = ::geteuid() == 0 ? "user root;\n" : "";
    WriteFile(config, user +
                          "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                          "pid " +
                          (dir / "nginx.pid").string() + ";\nerror_log " +
                          (dir / "logs/error.log").string() +
                          ";\nevents { worker_connections 64; }\nhttp {\n"
                          "  log_format ranges '$request_method $uri $status $body_bytes_sent "
                          "\"$http_range\"';\n  access_log " +
                          (dir / "logs/access.log").string() +
                          " ranges;\n"
                          "  client_body_temp_path " +
                          (dir / "body").string() + ";\n  proxy_temp_path " +
                          (dir / "proxy").string() + ";\n  fastcgi_temp_path " +
                          (dir / "fastcgi").string() + ";\n  uwsgi_temp_path " +
                          (dir / "uwsgi").string() + ";\n  scgi_temp_path " +
                          (dir / "scgi").string() + ";\n" + servers + "}\n");
    Start({"/usr/sbin/nginx", "-p", dir.string(), "-c", config.string()});
}

LyingHttpServer::LyingHttpServer(const fs::path& root, const std::vector<std::string>& shortFiles,
                                 const std::vector<std::string>& endlessFiles) {
    port_ = FreeLoopbackPort();
    std::vector<std::string> argv = {
        "/usr/bin/python3", SourcePath("tests/support/lying_http_server.py").string(),
        "--port",           std::to_string(port_),
        "--root",           root.string()};
    for (const auto& name : shortFiles) {
        argv.push_back("--short");
        argv.push_back(name);
    }
    for (const auto& name : endlessFiles) {
        argv.push_back("--endless");
        argv.push_back(name);
    }
    Start(std::move(argv), 3);
}

}  // namespace testsupport
