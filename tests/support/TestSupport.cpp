#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = fs::temp_directory_path() / ("torvane-test-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only files behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool WaitForPort(int port, int timeoutMs, const std::string& host) {
    const bool ipv6 = host.find(':') != std::string::npos;
    sockaddr_storage storage{};
    socklen_t size;
    if (ipv6) {
        auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
        addr->sin6_family = AF_INET6;
        addr->sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, host.c_str(), &addr->sin6_addr);
        size = sizeof *addr;
    } else {
        auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
        addr->sin_family = AF_INET;
        addr->sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, host.c_str(), &addr->sin_addr);
        size = sizeof *addr;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = ::socket(storage.ss_family, SOCK_STREAM, 0);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&storage), size) == 0;
        ::close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool HasIpv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options) {
    int stdinPipe[2] = {-1, -1};
    if (options.StdinText && ::pipe(stdinPipe) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::setpgid(0, 0);
        if (!options.WorkingDirectory.empty() && ::chdir(options.WorkingDirectory.c_str()) != 0)
            _exit(127);
        for (const auto& [key, value] : options.ExtraEnvironment)
            ::setenv(key.c_str(), value.c_str(), 1);
        auto redirect = [](const fs::path& file, int target) {
            int fd = file.empty() ? ::open("/dev/null", O_WRONLY)
                                  : ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, target);
                ::close(fd);
            }
        };
        redirect(options.StdoutFile, 1);
        redirect(options.StderrFile, 2);
        if (options.StdinText) {
            ::dup2(stdinPipe[0], 0);
            ::close(stdinPipe[0]);
            ::close(stdinPipe[1]);
        } else {
            int fd = ::open("/dev/null", O_RDONLY);
            ::dup2(fd, 0);
            ::close(fd);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    if (options.StdinText) {
        ::close(stdinPipe[0]);
        const std::string& text = *options.StdinText;
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(stdinPipe[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(stdinPipe[1]);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
}

int ChildProcess::Wait(int timeoutMs) {
    if (reaped_) goto done;
    for (int waited = 0;; waited += 10) {
        pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            break;
        }
        if (waited >= timeoutMs) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
done:
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return -1;
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
}

bool ChildProcess::Running() {
    if (reaped_) return false;
    pid_t r = ::waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) reaped_ = true;
    return !reaped_;
}

RunResult Run(const std::vector<std::string>& argv, const ChildProcess::Options& options,
              int timeoutMs) {
    TempDir scratch;
    ChildProcess::Options opts = options;
    opts.StdoutFile = scratch / "stdout";
    opts.StderrFile = scratch / "stderr";
    RunResult result;
    {
        ChildProcess child(argv, opts);
        result.ExitCode = child.Wait(timeoutMs);
    }
    result.Stdout = ReadFile(scratch / "stdout");
    result.Stderr = ReadFile(scratch / "stderr");
    return result;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const fs::path& file, const std::string& contents) {
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

fs::path ProgramPath(const std::string& name) {
    return fs::path(TORVANE_BINARY_DIR) / "bin" / name;
}

fs::path SourcePath(const std::string& relative) {
    return fs::path(TORVANE_SOURCE_DIR) / relative;
}

std::optional<fs::path> CorpusDir() {
    if (const char* env = std::getenv("TORVANE_CORPUS_DIR"); env && *env) {
        if (fs::is_directory(env)) return fs::path(env);
        return std::nullopt;
    }
    auto candidate = fs::path(TORVANE_SOURCE_DIR) / ".." / "shared" / "corpus";
    if (fs::is_directory(candidate)) return fs::canonical(candidate);
    return std::nullopt;
}

std::vector<std::string> ListTree(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) names.push_back(fs::relative(it->path(), dir).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testsupport
