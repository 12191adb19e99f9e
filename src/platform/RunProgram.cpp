#include "platform/RunProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    ProgramResult result;
    if (argv.empty()) {
        result.Error = EINVAL;
        return result;
    }
    // The environment: ours, with the given names replaced.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const char* equals = std::strchr(*e, '=');
        const std::string name(*e, equals ? static_cast<std::size_t>(equals - *e) : 0);
        bool replaced = false;
        for (const std::string& entry : environment)
            if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        if (!replaced) envStrings.emplace_back(*e);
    }
    envStrings.insert(envStrings.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& arg : args) argp.push_back(arg.data());
    argp.push_back(nullptr);

    // Output goes to an unnamed file, not a pipe: a daemon the program leaves behind (Wine's
    // server) would hold a pipe open and the read would wait for it.
    FILE* output = std::tmpfile();
    if (!output) {
        result.Error = errno;
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ::fileno(output), 1);
    posix_spawn_file_actions_adddup2(&actions, ::fileno(output), 2);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fclose(output);
        result.Error = spawned;
        return result;
    }
    result.Started = true;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::rewind(output);
    char buffer[4096];
    std::size_t got = 0;
    // Enough to explain a failure; the rest is dropped.
    while (result.Output.size() < 65536 && (got = std::fread(buffer, 1, sizeof buffer, output)) > 0)
        result.Output.append(buffer, got);
    std::fclose(output);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
