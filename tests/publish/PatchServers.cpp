#include "PatchServers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace fs = std::filesystem;

namespace publishtest {

namespace {

std::string FindProgram(const std::vector<std::string>& candidates) {
    for (const auto& c : candidates) {
        if (::access(c.c_str(), X_OK) == 0) return c;
    }
    return {};
}

}  // namespace

void PatchServer::Start(const std::vector<std::string>& argv, const fs::path& log) {
    testsupport::ChildProcess::Options options;
    options.StdoutFile = log;
    options.StderrFile = log.string() + ".err";
    process_ = std::make_unique<testsupport::ChildProcess>(argv, options);
    if (!testsupport::WaitForPort(port_, 20000)) {
        failure_ = argv[0] + " did not start: " + testsupport::ReadFile(options.StderrFile);
        process_.reset();
    }
}

VsftpdServer::VsftpdServer(const fs::path& repository, const fs::path& work) {
    std::string program = FindProgram({"/usr/sbin/vsftpd"});
    if (program.empty()) {
        failure_ = "vsftpd is not installed";
        return;
    }
    // vsftpd wants this empty directory for its unprivileged parts.
    fs::create_directories("/var/run/vsftpd/empty");
    port_ = testsupport::FreeLoopbackPort();
    int passive = testsupport::FreeLoopbackPort();
    fs::path conf = work / "vsftpd.conf";
    std::ofstream(conf) << "listen=YES\n"
                           "listen_ipv6=NO\n"
                           "listen_address=127.0.0.1\n"
                           "listen_port="
                        << port_
                        << "\n"
                           "background=NO\n"
                           "anonymous_enable=YES\n"
                           "no_anon_password=YES\n"
                           "anon_root="
                        << repository.string()
                        << "\n"
                           "hide_file={.*}\n"
                           "deny_file={.*}\n"
                           "local_enable=NO\n"
                           "write_enable=NO\n"
                           "pasv_enable=YES\n"
                           "pasv_address=127.0.0.1\n"
                           "pasv_min_port="
                        << passive
                        << "\n"
                           "pasv_max_port="
                        << passive + 20
                        << "\n"
                           "secure_chroot_dir=/var/run/vsftpd/empty\n"
                           "seccomp_sandbox=NO\n"
                           "xferlog_enable=NO\n"
                           "vsftpd_log_file="
                        << (work / "vsftpd.log").string()
                        << "\n"
                           "pam_service_name=vsftpd\n";
    Start({program, conf.string()}, work / "vsftpd.out");
}

PyftpdlibServer::PyftpdlibServer(const fs::path& repository, const fs::path& work) {
    std::string python = FindProgram({"/usr/bin/python3"});
    if (python.empty()) {
        failure_ = "/usr/bin/python3 is not installed";
        return;
    }
    port_ = testsupport::FreeLoopbackPort();
    Start({python, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port_), "-d",
           repository.string(), "-u", "patch", "-P", "secret"},
          work / "pyftpdlib.out");
}

NginxServer::NginxServer(const fs::path& repository, const fs::path& work) {
    std::string program = FindProgram({"/usr/sbin/nginx"});
    if (program.empty()) {
        failure_ = "nginx is not installed";
        return;
    }
    port_ = testsupport::FreeLoopbackPort();
    fs::path dir = work / "nginx";
    fs::create_directories(dir / "logs");
    const std::string d = dir.string();
    std::ofstream(dir / "nginx.conf")
        << "daemon off;\n"
           "master_process off;\n"
           "worker_processes 1;\n"
           "pid "
        << d
        << "/nginx.pid;\n"
           "error_log "
        << d
        << "/logs/error.log;\n"
           "events { worker_connections 64; }\n"
           "http {\n"
           "  access_log off;\n"
           "  client_body_temp_path "
        << d
        << "/body;\n"
           "  proxy_temp_path "
        << d
        << "/proxy;\n"
           "  fastcgi_temp_path "
        << d
        << "/fastcgi;\n"
           "  uwsgi_temp_path "
        << d
        << "/uwsgi;\n"
           "  scgi_temp_path "
        << d
        << "/scgi;\n"
           "  default_type application/octet-stream;\n"
           "  server {\n"
           "    listen 127.0.0.1:"
        << port_
        << ";\n"
           "    root "
        << repository.string()
        << ";\n"
           "    location ~ /\\. { deny all; }\n"
           "    location / { add_header Cache-Control \"no-cache\"; }\n"
           "  }\n"
           "}\n";
    Start({program, "-c", (dir / "nginx.conf").string(), "-p", d}, work / "nginx.out");
}

}  // namespace publishtest
