#pragma once
#include "platform/RunningApplications.h"

#include <memory>
#include <optional>
#include <string>

// Running applications of the current user on Linux: processes whose executable lies in
// <X>.app/Contents/MacOS/ (named by the bundle's Info.plist), and, in an X11 session, the
// processes owning top-level windows (named by their desktop entry, else WM_CLASS). Quitting
// sends WM_DELETE_WINDOW to the windows; only a process without windows gets SIGTERM through a
// pidfd; nothing forceful. An entry not pinned by lookup() is pinned and checked against its
// description (start time included) before any request. Thread-safe.
class LinuxRunningApplications : public RunningApplications {
public:
    LinuxRunningApplications();
    ~LinuxRunningApplications() override;

    std::vector<RunningApplication> list() override;
    // Reads only the processes' executable links, and the Info.plist of another bundle only
    // when one of its processes runs; windows are not asked.
    bool isRunning(const std::string& bundlePath, const std::string& bundleIdentifier) override;
    std::optional<RunningApplication> lookup(int32_t pid) override;
    bool requestQuit(const RunningApplication& application) override;
    bool hasTerminated(const RunningApplication& application) override;

    // The innermost bundle whose Contents/MacOS/ holds `executable`; none when it is in no bundle.
    static std::optional<std::string> bundleContaining(const std::string& executable);

    struct BundleInfo {
        std::optional<std::string> identifier;  // CFBundleIdentifier
        std::string name;  // CFBundleDisplayName, else CFBundleName, else the folder name without ".app"
    };
    // Reads the bundle's Contents/Info.plist (XML or binary, at most 4 MiB, not through a link).
    static BundleInfo readBundleInfo(const std::string& bundlePath);

private:
    struct State;
    std::unique_ptr<State> state_;
};
