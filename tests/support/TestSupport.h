#pragma once
// Helpers shared by the test suites: scratch directories, loopback ports, child processes
// (servers and the programs under test), file contents and the shared outside corpus.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under the temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& sub) const { return path_ / sub; }

private:
    std::filesystem::path path_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Polls until something accepts connections on `host`:`port` (127.0.0.1 or ::1), or
// `timeoutMs` passes.
bool WaitForPort(int port, int timeoutMs = 20000, const std::string& host = "127.0.0.1");
// True when this machine has an IPv6 loopback address to listen on (containers may not).
bool HasIpv6Loopback();

// A child process started with execvp; killed (SIGKILL) and reaped when the object dies.
class ChildProcess {
public:
    struct Options {
        std::filesystem::path WorkingDirectory;               // empty: inherit
        std::map<std::string, std::string> ExtraEnvironment;  // added to (or replacing) ours
        std::filesystem::path StdoutFile;                     // empty: /dev/null
        std::filesystem::path StderrFile;                     // empty: /dev/null
        std::optional<std::string> StdinText;                 // written then closed
    };
    ChildProcess(const std::vector<std::string>& argv, const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int Pid() const { return pid_; }
    // Waits for the exit; returns the exit status, or 128 + signal. -1 after `timeoutMs`.
    int Wait(int timeoutMs = 120000);
    void Signal(int signal);
    bool Running();

private:
    int pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

struct RunResult {
    int ExitCode = -1;
    std::string Stdout;
    std::string Stderr;
};
// Runs a program to its end and collects its output.
RunResult Run(const std::vector<std::string>& argv, const ChildProcess::Options& options = {},
              int timeoutMs = 300000);

std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& contents);

// build/bin/<name>: the project's own programs.
std::filesystem::path ProgramPath(const std::string& name);
// The source tree's folder, e.g. SourcePath("assets").
std::filesystem::path SourcePath(const std::string& relative);

// The shared outside corpus ($TORVANE_CORPUS_DIR, else ../shared/corpus beside the source
// tree); nullopt when it is absent.
std::optional<std::filesystem::path> CorpusDir();

// Every regular file below `dir`, relative paths, sorted.
std::vector<std::string> ListTree(const std::filesystem::path& dir);

}  // namespace testsupport

// Skips the current test with a clear message when the outside corpus is missing.
#define TORVANE_REQUIRE_CORPUS(var)                                                            \
    auto var##_opt = ::testsupport::CorpusDir();                                               \
    if (!var##_opt) GTEST_SKIP() << "shared corpus folder not found (set TORVANE_CORPUS_DIR)"; \
    const std::filesystem::path var = *var##_opt
