#pragma once
#include <chrono>
#include <string>
#include <sys/types.h>

// Another process holding the lock file of a store ("<store>.lock") with flock until this
// object is destroyed, or, given `holdFor`, for that long: a writer busy with a write of its own.
class HeldLock {
public:
    explicit HeldLock(const std::string& storePath, std::chrono::milliseconds holdFor = std::chrono::milliseconds(-1));
    ~HeldLock();
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    pid_t pid_ = -1;
    int release_ = -1;
};
