#pragma once
#include <cstdint>
#include <memory>
#include <optional>

// A pidfd: refers to one process for as long as it is held, even after its pid is reused.
class ProcessHandle {
public:
    // None when the process cannot be pinned; errno then tells why (ESRCH: no such process).
    static std::shared_ptr<ProcessHandle> open(int32_t pid);
    // When the process now holding `pid` started (clock ticks after boot); none when unreadable.
    // Unpinned: pair it with a handle and hasExited() to know whose it is.
    static std::optional<uint64_t> readStartTime(int32_t pid);
    // The first 4 KiB of a /proc file (enough for the fields read here); none when it cannot be opened.
    static std::optional<std::string> readProcFile(const std::string& path);
    ~ProcessHandle();
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    int32_t pid() const { return pid_; }
    // The process has ended (the pidfd became readable).
    bool hasExited() const;
    // The start time of exactly this process; none when unreadable or it has ended.
    std::optional<uint64_t> startTime() const;
    // Sends SIGTERM to exactly this process; false when it could not be delivered.
    bool terminate() const;

private:
    ProcessHandle(int fd, int32_t pid) : fd_(fd), pid_(pid) {}
    int fd_;
    int32_t pid_;
};
