#pragma once
// The connect server as a child process of a test: started on a free port with a settings
// file of the test's, its log (stderr) readable while it runs.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace connectdtest {

using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::TempDir;

class Connectd {
public:
    explicit Connectd(const std::string& settings, std::vector<std::string> extra = {}) {
        testsupport::WriteFile(dir_ / "connectd.conf", settings);
        std::vector<std::string> argv{testsupport::ProgramPath("torvane-connectd").string(),
                                      "--config",
                                      (dir_ / "connectd.conf").string(),
                                      "--port",
                                      "0",
                                      "--trace"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ChildProcess::Options options;
        options.StdoutFile = dir_ / "stdout";
        options.StderrFile = dir_ / "stderr";
        process_ = std::make_unique<ChildProcess>(argv, options);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string out = ReadFile(dir_ / "stdout");
            if (out.rfind("listening ", 0) == 0 && out.back() == '\n') {
                port_ = std::stoi(out.substr(10));
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    int Port() const { return port_; }
    const std::filesystem::path& Dir() const { return dir_.Path(); }
    std::string Log() const { return ReadFile(dir_ / "stderr"); }
    // Waits until the log holds `text` `count` times (or more).
    bool WaitForLog(const std::string& text, int count = 1) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (CountInLog(text) >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int CountInLog(const std::string& text) const {
        const std::string log = Log();
        int found = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++found;
        }
        return found;
    }
    ChildProcess& Process() { return *process_; }

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
};

}  // namespace connectdtest
