#pragma once
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// A child process started directly (no shell). Ended with SIGUSR1 and reaped when destroyed,
// unless it was reaped before.
class ChildProcess {
public:
    ChildProcess(const std::string& executable, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Reaps the child, waiting at most `seconds`; its wait status, or -1 on timeout.
    int wait(double seconds);
    bool reaped() const { return reaped_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// Forks `count` children that start `child(i)` together and exit with what it returns; their
// exit codes in order, -1 for one that did not exit normally.
std::vector<int> forkTogether(int count, const std::function<int(int)>& child);

// Polls until the file exists; false after `seconds`.
bool waitForFile(const std::string& path, double seconds);
// Polls until `condition` holds; false after `seconds`.
bool waitUntil(double seconds, const std::function<bool()>& condition);
// A copy of a fixture program at `destination` (parents created), executable.
std::string copyExecutable(const std::string& source, const std::string& destination);
// Path of the fixture program `name` (tests/fixtures/<name>.c).
std::string fixturePath(const std::string& name);
