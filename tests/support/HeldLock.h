#pragma once
#include <string>
#include <sys/types.h>

// Another process holding the lock file of a store ("<store>.lock") with flock until this
// object is destroyed.
class HeldLock {
public:
    explicit HeldLock(const std::string& storePath);
    ~HeldLock();
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    pid_t pid_ = -1;
    int release_ = -1;
};
