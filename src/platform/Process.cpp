#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/CodePage.h"
#include "platform/GamePath.h"
#include "platform/WineLaunch.h"

extern char** environ;

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A program name without '/' is looked up in PATH, here, before forking.
std::optional<std::string> FindOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::string_view dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        const std::string candidate = std::string(dir.empty() ? "." : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        dirs.remove_prefix(colon + 1);
    }
}

// Starts argv[0] detached (grandchild of ours, in a session of its own). Returns 0 once the
// program runs, otherwise the errno of what failed (fork, chdir or exec).
int SpawnDetached(const std::vector<std::string>& args, const std::filesystem::path& workDir,
                  const std::vector<std::string>& environment = {}) {
    // Our environment with the given names replaced, built before forking.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& given : environment)
            if (given.size() > name.size() && given.compare(0, name.size(), name) == 0 &&
                given[name.size()] == '=')
                replaced = true;
        if (!replaced) envStrings.emplace_back(entry);
    }
    envStrings.insert(envStrings.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string dir = workDir.string();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return errno;

    const pid_t middle = ::fork();
    if (middle < 0) {
        const int error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return error;
    }
    if (middle == 0) {
        // Only async-signal-safe calls from here on.
        ::close(pipeFds[0]);
        ::setsid();
        const pid_t child = ::fork();
        if (child < 0) {
            const int error = errno;
            (void)!::write(pipeFds[1], &error, sizeof error);
            ::_exit(1);
        }
        if (child > 0) ::_exit(0);

        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGCHLD, SIG_DFL);
#ifdef SYS_close_range
        // Our sockets and files are no business of the started program.
        ::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
#endif
        int error = 0;
        if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
            error = errno;
        } else {
            ::execve(argv[0], argv.data(), envp.data());
            error = errno;
        }
        (void)!::write(pipeFds[1], &error, sizeof error);
        ::_exit(127);
    }

    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(pipeFds[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(pipeFds[0]);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

int ResultFor(int error) {
    switch (error) {
        case 0:
            return kStartSucceeded;
        case ENOENT:
            return kStartFileNotFound;
        case ENOTDIR:
            return kStartPathNotFound;
        case ENOEXEC:
        case EACCES:
        case EPERM:
        case EISDIR:
        case ELIBBAD:
        case ETXTBSY:
            return kStartBadFormat;
        default:
            return kStartOutOfResources;
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            if (line[i] == '\\') {
                std::size_t slashes = 0;
                while (i < line.size() && line[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < line.size() && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (line[i] == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += line[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

int StartGameClient(const std::filesystem::path& gameDir, const std::string& file,
                    const std::string& parameters, const DeploymentSettings& settings) {
    std::filesystem::path program;
    if (std::filesystem::path(file).is_absolute()) {
        program = file;
    } else if (auto resolved = GamePath(gameDir).Resolve(file)) {
        program = *resolved;
    } else {
        return kStartFileNotFound;
    }

    std::error_code ec;
    if (!std::filesystem::is_directory(program.parent_path(), ec)) return kStartPathNotFound;
    const auto status = std::filesystem::status(program, ec);
    if (status.type() == std::filesystem::file_type::not_found) return kStartFileNotFound;
    if (status.type() != std::filesystem::file_type::regular) return kStartBadFormat;

    std::vector<std::string> args;
    std::vector<std::string> environment;
    std::vector<std::string> launcher = SplitCommandLine(settings.LaunchCommand);
    if (LaunchesThroughWine(settings)) {
        if (launcher.empty()) launcher.push_back("wine");
        WineEnvironment wine = PrepareWineEnvironment(settings);
        if (!wine.Problem.empty())
            std::fprintf(stderr, "torvane: starting %s through Wine: %s\n", file.c_str(),
                         wine.Problem.c_str());
        environment = std::move(wine.Variables);
        // Wine hands the command line to the client in the code page; bytes that do not form
        // characters of it arrive changed (docs/deploying.md: choosing a scramble key).
        std::size_t bad = 0;
        if (!DecodeToUtf16(parameters, settings.CodePage, &bad)) {
            std::fprintf(stderr,
                         "torvane: the game's arguments hold a byte (offset %zu) that %s cannot "
                         "decode: the client under Wine will not receive it as sent; choose a "
                         "scramble key that keeps the scrambled address and port below 0x80\n",
                         bad, settings.CodePage.c_str());
        }
    }
    if (!launcher.empty()) {
        const auto found = FindOnPath(launcher.front());
        if (!found) return kStartFileNotFound;
        args.push_back(*found);
        args.insert(args.end(), launcher.begin() + 1, launcher.end());
        args.push_back(program.string());
    } else {
        args.push_back(program.string());
    }
    for (std::string& arg : SplitCommandLine(parameters)) args.push_back(std::move(arg));
    return ResultFor(SpawnDetached(args, gameDir, environment));
}

bool OpenWebLink(const std::string& url) {
    // One argument, never an option; a link is a single line of text.
    if (url.empty() || url.front() == '-' || url.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    const auto opener = FindOnPath("xdg-open");
    if (!opener) return false;
    return SpawnDetached({*opener, url}, {}) == 0;
}
