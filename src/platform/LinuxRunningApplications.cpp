#include "platform/LinuxRunningApplications.h"

#include "platform/ProcessHandle.h"

#include "csystem/csystem.h"
#include "platform/DesktopEntries.h"
#include "platform/PropertyList.h"
#include "platform/X11Session.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int32_t kMaxProcesses = 16384;
constexpr int32_t kPathBuffer = 4096;

using WindowsByPid = std::map<int32_t, std::vector<TopLevelWindow>>;

std::optional<std::string> executableOf(int32_t pid)
{
    char path[kPathBuffer] = {};
    if (ts_process_path(pid, path, kPathBuffer) < 1) return std::nullopt;
    return std::string(path);
}

// The real user of the process, the one who started it: the owner of /proc/<pid> is the
// effective user, and root for a process that cannot be dumped.
bool ownedByCurrentUser(int32_t pid)
{
    // The Uid: line comes within the first dozen lines.
    auto status = ProcessHandle::readProcFile("/proc/" + std::to_string(pid) + "/status");
    if (!status) return false;
    std::string_view text(*status);
    size_t at = text.find("\nUid:");
    if (at == std::string_view::npos) return false;
    size_t p = at + 5;
    while (p < text.size() && (text[p] == '\t' || text[p] == ' ')) ++p;
    uint64_t uid = 0;
    size_t digits = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9' && digits < 11) {
        uid = uid * 10 + static_cast<uint64_t>(text[p++] - '0');
        ++digits;
    }
    // Only a whole number followed by the next field counts.
    if (digits == 0 || p >= text.size() || (text[p] != '\t' && text[p] != ' ')) return false;
    return uid == static_cast<uint64_t>(getuid());
}

} // namespace

struct LinuxRunningApplications::State {
    std::mutex mutex;
    X11Session x11;
    DesktopEntries desktop;

    WindowsByPid windowsByPid()
    {
        WindowsByPid byPid;
        for (auto& w : x11.windows()) byPid[w.pid].push_back(std::move(w));
        return byPid;
    }

    std::optional<RunningApplication> describe(int32_t pid, const WindowsByPid& windows)
    {
        if (!ownedByCurrentUser(pid)) return std::nullopt;
        std::optional<std::string> executable = executableOf(pid);
        std::optional<std::string> bundle = executable ? bundleContaining(*executable) : std::nullopt;
        auto owned = windows.find(pid);
        bool hasWindows = owned != windows.end() && !owned->second.empty();
        if (!bundle && !hasWindows) return std::nullopt;

        RunningApplication app;
        app.pid = pid;
        app.regular = true;
        app.startTime = ProcessHandle::readStartTime(pid);
        if (bundle) {
            BundleInfo info = readBundleInfo(*bundle);
            app.bundlePath = *bundle;
            app.bundleIdentifier = info.identifier;
            app.name = info.name;
            // A process started by its own bundle's process is a helper of that application.
            if (!hasWindows) {
                int32_t parent = ts_parent_pid(pid);
                if (parent > 1) {
                    std::optional<std::string> parentExecutable = executableOf(parent);
                    if (parentExecutable && bundleContaining(*parentExecutable) == bundle) app.regular = false;
                }
            }
            return app;
        }

        // The executable itself stands in for the bundle: it is no folder, so it claims no
        // other process by path.
        app.bundlePath = executable;
        for (const auto& w : owned->second) {
            if (w.instance.empty() && w.windowClass.empty()) continue;
            if (auto entry = desktop.match(w.instance, w.windowClass)) {
                app.name = entry->name;
                app.bundleIdentifier = entry->id;
            } else {
                const std::string& cls = w.windowClass.empty() ? w.instance : w.windowClass;
                app.name = cls;
                app.bundleIdentifier = cls;
            }
            break;
        }
        return app;
    }
};

LinuxRunningApplications::LinuxRunningApplications() : state_(std::make_unique<State>()) {}
LinuxRunningApplications::~LinuxRunningApplications() = default;

std::optional<std::string> LinuxRunningApplications::bundleContaining(const std::string& executable)
{
    static const std::string marker = ".app/Contents/MacOS/";
    size_t at = executable.rfind(marker);
    while (at != std::string::npos) {
        size_t bundleEnd = at + 4;  // just past ".app"
        size_t nameStart = executable.rfind('/', at);
        bool named = nameStart != std::string::npos && nameStart + 1 < at;
        bool hasFile = executable.size() > at + marker.size();
        if (named && hasFile && executable[0] == '/') return executable.substr(0, bundleEnd);
        if (at == 0) break;
        at = executable.rfind(marker, at - 1);
    }
    return std::nullopt;
}

LinuxRunningApplications::BundleInfo LinuxRunningApplications::readBundleInfo(const std::string& bundlePath)
{
    BundleInfo info;
    std::string folder = bundlePath.substr(bundlePath.rfind('/') + 1);
    info.name = folder.ends_with(".app") ? folder.substr(0, folder.size() - 4) : folder;

    PropertyList::Ptr parsed = PropertyList::readFile(bundlePath + "/Contents/Info.plist");
    plist_t root = parsed.get();
    if (!root) return info;
    if (plist_get_node_type(root) == PLIST_DICT) {
        auto identifier = PropertyList::stringValue(root, "CFBundleIdentifier");
        if (identifier && !identifier->empty()) info.identifier = identifier;
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
            auto name = PropertyList::stringValue(root, key);
            if (name && !name->empty()) {
                info.name = *name;
                break;
            }
        }
    }
    return info;
}

std::vector<RunningApplication> LinuxRunningApplications::list()
{
    std::lock_guard lock(state_->mutex);
    WindowsByPid windows = state_->windowsByPid();
    std::vector<int32_t> pids(kMaxProcesses, 0);
    int32_t count = ts_list_pids(pids.data(), kMaxProcesses);
    std::vector<RunningApplication> result;
    for (int32_t i = 0; i < std::min(count, kMaxProcesses); ++i) {
        if (pids[i] <= 0) continue;
        if (auto app = state_->describe(pids[i], windows)) result.push_back(std::move(*app));
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return result;
}

bool LinuxRunningApplications::isRunning(const std::string& bundlePath, const std::string& bundleIdentifier)
{
    std::vector<int32_t> pids(kMaxProcesses, 0);
    int32_t count = ts_list_pids(pids.data(), kMaxProcesses);
    // Other bundles seen running, by path: whether they carry the identifier. Each is read once.
    std::map<std::string, bool> carriesIdentifier;
    for (int32_t i = 0; i < std::min(count, kMaxProcesses); ++i) {
        std::optional<std::string> executable = pids[i] > 0 ? executableOf(pids[i]) : std::nullopt;
        std::optional<std::string> bundle = executable ? bundleContaining(*executable) : std::nullopt;
        if (!bundle) continue;
        bool same = *bundle == bundlePath;
        if (!same && !bundleIdentifier.empty()) {
            auto known = carriesIdentifier.find(*bundle);
            if (known == carriesIdentifier.end())
                known = carriesIdentifier.emplace(*bundle, readBundleInfo(*bundle).identifier == bundleIdentifier).first;
            same = known->second;
        }
        // The owner is read last: it costs a status file, and most processes are no bundle's.
        if (same && ownedByCurrentUser(pids[i])) return true;
    }
    return false;
}

std::optional<RunningApplication> LinuxRunningApplications::lookup(int32_t pid)
{
    // Pin the process first, so everything read afterwards describes this very process.
    auto handle = ProcessHandle::open(pid);
    if (!handle) return std::nullopt;
    std::lock_guard lock(state_->mutex);
    WindowsByPid windows = state_->windowsByPid();
    auto app = state_->describe(pid, windows);
    if (!app || handle->hasExited()) return std::nullopt;
    app->process = std::move(handle);
    return app;
}

bool LinuxRunningApplications::requestQuit(const RunningApplication& application)
{
    // A pinned process was identified when it was looked up. Any other is pinned now and
    // must still be the very process described, or the pid may belong to someone else.
    std::shared_ptr<ProcessHandle> handle = application.process;
    bool pinnedNow = !handle;
    if (pinnedNow) {
        if (!application.startTime) return false;
        handle = ProcessHandle::open(application.pid);
    }
    if (!handle || handle->pid() != application.pid || handle->hasExited()) return false;

    std::lock_guard lock(state_->mutex);
    WindowsByPid windows = state_->windowsByPid();
    if (pinnedNow) {
        auto current = state_->describe(application.pid, windows);
        if (!current || !current->sameDescription(application)) return false;
    }
    auto owned = windows.find(application.pid);
    std::vector<uint32_t> closable;
    bool hasWindows = owned != windows.end() && !owned->second.empty();
    if (hasWindows)
        for (const auto& w : owned->second)
            if (w.acceptsDelete) closable.push_back(w.window);
    // The windows were found by pid: they are this process's only if it is still running.
    if (handle->hasExited()) return false;
    // A process with windows is asked through them, never signalled: when none accepts the
    // request, it is refused.
    if (hasWindows) return !closable.empty() && state_->x11.requestClose(closable) > 0;
    return handle->terminate();
}

bool LinuxRunningApplications::hasTerminated(const RunningApplication& application)
{
    if (application.process) return application.process->hasExited();
    // Unpinned: only a recorded start time tells whether the process now holding the pid is
    // the one described; anything that cannot be checked counts as still running.
    if (!application.startTime) return false;
    auto handle = ProcessHandle::open(application.pid);
    if (!handle) return errno == ESRCH;
    // Whoever holds the pid now: if it has ended, or is another process, the one described
    // is gone.
    auto start = handle->startTime();
    if (handle->hasExited()) return true;
    return start && *start != *application.startTime;
}
