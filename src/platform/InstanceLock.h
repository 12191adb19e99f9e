#pragma once
// Single-instance guard: an advisory lock (flock) on "<name>.lock" in the user's runtime
// directory ($XDG_RUNTIME_DIR), else on "<name>-<uid>.lock" in the temporary directory. The lock is
// held for as long as the object lives; the launcher keeps it until the process ends.

#include <string>

class InstanceLock {
public:
    // Takes the lock if free. AlreadyExists() then tells whether another process holds it.
    explicit InstanceLock(const std::string& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool AlreadyExists() const { return alreadyExists_; }

private:
    int fd_ = -1;
    bool alreadyExists_ = false;
};
