#pragma once
// One launcher per game folder: an advisory lock (flock) on ".torvane.lock" inside the game
// folder, holding the process id of its holder. Keyed on the folder itself, it holds for
// launchers of every session and user (desktop, cron, ssh, sudo) and lets two launchers patch
// two different game folders at once. The lock is held for as long as the object lives; the
// launcher keeps it until the process ends. A folder where no lock file can be made or opened
// is not locked (the patch itself then reports why the folder cannot be written).

#include <filesystem>
#include <string>

class InstanceLock {
public:
    static constexpr const char* kFileName = ".torvane.lock";

    // Takes the lock if free. AlreadyExists() then tells whether another process holds it.
    explicit InstanceLock(const std::filesystem::path& gameFolder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool AlreadyExists() const { return alreadyExists_; }
    // The process id the holder wrote, when AlreadyExists(); 0 when unknown.
    long HolderPid() const { return holderPid_; }
    const std::filesystem::path& LockFile() const { return file_; }
    // "another launcher (process 1234) is using the game folder /games/x", for messages.
    std::string Describe() const;

private:
    std::filesystem::path folder_;
    std::filesystem::path file_;
    int fd_ = -1;
    bool alreadyExists_ = false;
    long holderPid_ = 0;
};
