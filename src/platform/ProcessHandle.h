#pragma once
#include <cstdint>
#include <memory>

// A pidfd: refers to one process for as long as it is held, even after its pid is reused.
class ProcessHandle {
public:
    // None when the process does not exist (or pidfds are unavailable).
    static std::shared_ptr<ProcessHandle> open(int32_t pid);
    ~ProcessHandle();
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    int32_t pid() const { return pid_; }
    // The process has ended (the pidfd became readable).
    bool hasExited() const;
    // Sends SIGTERM to exactly this process; false when it could not be delivered.
    bool terminate() const;

private:
    ProcessHandle(int fd, int32_t pid) : fd_(fd), pid_(pid) {}
    int fd_;
    int32_t pid_;
};
