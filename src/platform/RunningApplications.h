#pragma once
#include "platform/ProcessHandle.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One running application of the current user.
struct RunningApplication {
    int32_t pid = 0;
    std::optional<std::string> name;              // display name
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> bundlePath;        // the bundle, or the executable of a window owner
    bool regular = false;                         // a full application, not a helper of one
    std::optional<uint64_t> startTime;            // with pid, names this very process
    std::shared_ptr<ProcessHandle> process;       // set by lookup(): pins this very process

    bool sameDescription(const RunningApplication& other) const
    {
        return pid == other.pid && name == other.name && bundleIdentifier == other.bundleIdentifier &&
               bundlePath == other.bundlePath && regular == other.regular && startTime == other.startTime;
    }
};

// The running applications of the desktop session and their normal termination. An interface
// so the model and its tests can use a fake.
class RunningApplications {
public:
    virtual ~RunningApplications() = default;
    // All running applications (helpers included, marked not regular), by pid.
    virtual std::vector<RunningApplication> list() = 0;
    // Whether one application runs: a process of the current user whose executable lies in
    // the bundle's Contents/MacOS/, or in another bundle with the same identifier. Asks about
    // this application alone, so it is cheap enough to ask between the files of a run.
    virtual bool isRunning(const std::string& bundlePath, const std::string& bundleIdentifier) = 0;
    // The application whose own process has this pid, pinned to that process; none otherwise.
    virtual std::optional<RunningApplication> lookup(int32_t pid) = 0;
    // Asks the application to quit normally, never by force: its windows get a close request,
    // a process without windows SIGTERM. True when the request was delivered; false when the
    // process is gone or no longer matches the description, or none of its windows accepts a
    // close request.
    virtual bool requestQuit(const RunningApplication& application) = 0;
    // Whether the application's process has ended; false while that cannot be known.
    virtual bool hasTerminated(const RunningApplication& application) = 0;
};
