// The folder walk. Several threads list and lstat directories at once; the report is then
// assembled in the depth-first order of names, so it is identical to a sequential walk:
// same counts, same warnings in the same order, same order among files of equal size.
#include "engine/FileEngine.h"

#include "engine/AsciiCase.h"
#include "engine/Dates.h"
#include "platform/Errors.h"
#include "platform/FolderNames.h"
#include "platform/Locations.h"
#include "platform/PathText.h"
#include "platform/Trash.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace FileEngine {

bool isPackageName(std::string_view name)
{
    static const std::string_view extensions[] = {
        ".app", ".bundle", ".framework", ".plugin", ".kext", ".rtfd", ".pkg", ".mpkg", ".xpc",
        ".appex", ".prefpane", ".qlgenerator", ".mdimporter", ".saver", ".wdgt", ".photoslibrary",
        ".photolibrary", ".fcpbundle", ".logicx", ".band", ".imovielibrary", ".musiclibrary",
        ".pages", ".numbers", ".key", ".xcodeproj", ".xcworkspace", ".playground", ".scptd",
        ".docset", ".component", ".vst", ".vst3", ".aaplugin",
    };
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    auto ext = name.substr(dot);
    for (auto candidate : extensions) {
        if (candidate.size() != ext.size()) continue;
        bool same = true;
        for (size_t i = 0; i < ext.size() && same; ++i) same = asciiLower(ext[i]) == candidate[i];
        if (same) return true;
    }
    return false;
}

namespace {

unsigned workerCount() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

bool isSkippedFolderName(std::string_view name)
{
    static const std::string_view names[] = {".Trash", ".Trashes", ".git", "Backups.backupdb", "Library", "System"};
    for (auto n : names)
        if (n == name) return true;
    // Per-volume Trash folders: ".Trash-<uid>".
    if (name.size() > 7 && name.substr(0, 7) == ".Trash-") {
        for (char c : name.substr(7))
            if (c < '0' || c > '9') return false;
        return true;
    }
    return false;
}

std::string childPath(const std::string& parent, std::string_view name)
{
    std::string path;
    path.reserve(parent.size() + 1 + name.size());
    path = parent;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

// What one directory contributed, in walk order: its files, and between them the
// subdirectories entered and the warnings raised, each noting how many files preceded it.
// Files are kept as bare status fields and names until the report is assembled: a full
// record with its path is built only once, which keeps the peak near one record a file.
struct PendingFile {
    uint32_t nameOffset;
    uint32_t nameLength;
    int64_t size;
    int64_t blocks;
    uint64_t inode;
    double modified;
    double changed;
    int32_t device;
};

struct DirNode {
    struct Event {
        size_t filesBefore;
        std::unique_ptr<DirNode> child; // null for a warning
        std::string warning;
    };
    std::string path;
    std::string names; // the files' names, back to back
    std::vector<PendingFile> files;
    std::vector<Event> events;
    size_t warningCount = 0;
    int lister = -1; // the worker that listed this folder
    // Where runs of this folder's files land in the report: (first file, report index).
    std::vector<std::pair<size_t, size_t>> runs;
};

using Plan = std::function<std::vector<std::vector<DirNode*>>()>;

struct Task {
    DirNode* node;
    std::string path;
};

std::vector<uint32_t> sortedSlots(const std::vector<std::vector<DirNode*>>& byWorker, size_t count);

class Walk {
public:
    Walk(std::stop_token stop, std::string homeTrash, std::string ownData, std::vector<std::pair<dev_t, ino_t>> skipped)
        : stop_(std::move(stop)), homeTrash_(std::move(homeTrash)), ownData_(std::move(ownData)),
          skippedFolders_(std::move(skipped))
    {
        // A bind mount shows the store folder under another path: it is known by its inode too.
        struct stat info {};
        if (stat(ownData_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) skippedFolders_.emplace_back(info.st_dev, info.st_ino);
    }

    // Lists the tree, then lets `plan` place every file in `out`; each worker then builds the
    // records of the folders it listed itself. Building them on the thread whose allocator
    // held the listing lets the freed listing memory take the new paths, so the peak stays
    // near one copy of the records.
    void run(DirNode* root, std::string rootPath, int descriptor, const ScanProgressHandler& progress,
             const Plan& plan, std::vector<FileEntry>& out)
    {
        {
            std::lock_guard lock(mutex_);
            pending_ = 1;
        }
        unsigned threads = workerCount();
        std::vector<std::jthread> workers;
        workers.reserve(threads);
        // The root is listed on a worker too, so the calling thread only reports progress.
        pushFirst(Task{root, std::move(rootPath)}, descriptor);
        for (unsigned i = 0; i < threads; ++i)
            workers.emplace_back([this, i, &out] {
                work(static_cast<int>(i));
                build(static_cast<int>(i), out);
            });
        report(progress);
        auto byWorker = plan();
        auto slots = sortedSlots(byWorker, out.size());
        {
            std::lock_guard lock(mutex_);
            byWorker_ = std::move(byWorker);
            slots_ = std::move(slots);
            planned_ = true;
        }
        queueCv_.notify_all();
        for (auto& w : workers) w.join();
    }

    std::atomic<int64_t> inspected{0}, skipped{0}, bytes{0};
    std::atomic<bool> cancelled{false};
    CategoryTotals totals_; // complete once run() returns

private:
    void pushFirst(Task task, int descriptor)
    {
        std::lock_guard lock(mutex_);
        rootDescriptor_ = descriptor;
        tasks_.push_back(std::move(task));
    }

    void report(const ScanProgressHandler& progress)
    {
        using clock = std::chrono::steady_clock;
        std::unique_lock lock(mutex_);
        bool firstSent = false;
        int64_t reportedItems = 0;
        auto last = clock::now();
        while (true) {
            if (!firstSent) {
                progressCv_.wait(lock, [&] { return items_ > 0 || pending_ == 0; });
            } else {
                progressCv_.wait_until(lock, last + std::chrono::milliseconds(200), [&] { return pending_ == 0; });
            }
            bool done = pending_ == 0;
            if (!firstSent && items_ == 0) return; // nothing was handled at all
            // A report follows handled items: a walk stalled on a slow folder repeats nothing.
            bool due = clock::now() - last >= std::chrono::milliseconds(200);
            if (due && firstSent && items_ == reportedItems) last = clock::now();
            else if (!firstSent || due) {
                reportedItems = items_;
                ScanProgress p{inspected.load(), skipped.load(), bytes.load(), currentName_};
                nameWanted_.store(true);
                firstSent = true;
                lock.unlock();
                if (progress) progress(p);
                lock.lock();
                last = clock::now();
            }
            if (done) return;
        }
    }

    void build(int worker, std::vector<FileEntry>& out)
    {
        {
            std::unique_lock lock(mutex_);
            queueCv_.wait(lock, [&] { return planned_; });
        }
        if (static_cast<size_t>(worker) >= byWorker_.size()) return;
        // Statistics are summed here while each name is at hand: after the sort the records'
        // paths are scattered through memory and a second pass would wait on every one.
        CategoryTotals totals;
        for (DirNode* node : byWorker_[static_cast<size_t>(worker)]) {
            for (size_t r = 0; r < node->runs.size(); ++r) {
                size_t from = node->runs[r].first;
                size_t to = r + 1 < node->runs.size() ? node->runs[r + 1].first : node->files.size();
                size_t at = node->runs[r].second;
                for (size_t k = from; k < to; ++k, ++at) {
                    const PendingFile& f = node->files[k];
                    std::string_view name(node->names.data() + f.nameOffset, f.nameLength);
                    totals.add(categoryIndexOfName(name), f.size);
                    out[slots_[at]] = FileEntry(childPath(node->path, name), f.size, f.modified, f.device, f.inode,
                                        f.blocks * 512, f.changed);
                }
            }
            std::vector<PendingFile>().swap(node->files);
            std::string().swap(node->names);
        }
        std::lock_guard lock(mutex_);
        totals_.merge(totals);
    }

    void work(int worker)
    {
        while (true) {
            Task task;
            int descriptor = -1;
            {
                std::unique_lock lock(mutex_);
                queueCv_.wait(lock, [&] { return !tasks_.empty() || pending_ == 0; });
                if (tasks_.empty()) return;
                task = std::move(tasks_.back());
                tasks_.pop_back();
                if (rootDescriptor_ >= 0) std::swap(descriptor, rootDescriptor_);
            }
            task.node->lister = worker;
            list(task, descriptor);
            std::lock_guard lock(mutex_);
            if (--pending_ == 0) {
                queueCv_.notify_all();
                progressCv_.notify_all();
            }
        }
    }

    void fail(DirNode& node, std::string_view name, int err)
    {
        skipped.fetch_add(1, std::memory_order_relaxed);
        // Warnings past the report's limit within one folder could never be shown.
        if (node.warningCount < kMaxWarnings) {
            node.events.push_back({node.files.size(), nullptr, warningLine(name, posixError(err).code().message())});
            ++node.warningCount;
        }
    }

    void noteItem(std::string_view name)
    {
        if (items_.load(std::memory_order_relaxed) == 0 || nameWanted_.load(std::memory_order_relaxed)) {
            std::lock_guard lock(mutex_);
            currentName_.assign(name);
            nameWanted_.store(false);
            if (items_.fetch_add(1) == 0) progressCv_.notify_all();
        } else {
            items_.fetch_add(1, std::memory_order_relaxed);
        }
    }

    void list(Task& task, int descriptor)
    {
        DirNode& node = *task.node;
        if (stop_.stop_requested()) {
            if (descriptor >= 0) close(descriptor);
            cancelled = true;
            return;
        }
        if (descriptor < 0) descriptor = open(task.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0) {
            int err = errno;
            fail(node, lastComponent(task.path), err);
            return;
        }
        FolderNames listing = listFolder(descriptor);
        std::sort(listing.names.begin(), listing.names.end());
        int fd = descriptor;
        for (const auto& name : listing.names) {
            if (stop_.stop_requested()) {
                cancelled = true;
                break;
            }
            struct stat info {};
            if (fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                fail(node, name, errno);
            } else if (S_ISLNK(info.st_mode)) {
                skipped.fetch_add(1, std::memory_order_relaxed);
            } else if (S_ISDIR(info.st_mode)) {
                std::string path = childPath(task.path, name);
                if (isSkippedFolderName(name) || isPackageName(name) || (name == "Trash" && path == homeTrash_) ||
                    path == ownData_ || isSkippedFolder(info)) {
                    skipped.fetch_add(1, std::memory_order_relaxed);
                } else {
                    auto child = std::make_unique<DirNode>();
                    child->path = path;
                    DirNode* childNode = child.get();
                    node.events.push_back({node.files.size(), std::move(child), {}});
                    std::lock_guard lock(mutex_);
                    ++pending_;
                    tasks_.push_back(Task{childNode, std::move(path)});
                    queueCv_.notify_one();
                }
            } else {
                inspected.fetch_add(1, std::memory_order_relaxed);
                // Linux has no cloud placeholders: a regular file is always a record.
                if (S_ISREG(info.st_mode)) {
                    bytes.fetch_add(info.st_size, std::memory_order_relaxed);
                    node.files.push_back(PendingFile{static_cast<uint32_t>(node.names.size()),
                                                     static_cast<uint32_t>(name.size()), info.st_size,
                                                     info.st_blocks, info.st_ino, dateFromTimespec(info.st_mtim),
                                                     dateFromTimespec(info.st_ctim), static_cast<int32_t>(info.st_dev)});
                    node.names += name;
                } else {
                    skipped.fetch_add(1, std::memory_order_relaxed);
                }
            }
            noteItem(name);
        }
        // A listing cut short by an error still reports what it read, then the error.
        if (listing.error != 0) fail(node, lastComponent(task.path), listing.error);
        close(descriptor);
    }

    std::stop_token stop_;
    std::string homeTrash_;
    std::string ownData_;
    // The store folder and the Trash's folders, wherever they show up.
    std::vector<std::pair<dev_t, ino_t>> skippedFolders_;

    bool isSkippedFolder(const struct stat& info) const
    {
        return std::find(skippedFolders_.begin(), skippedFolders_.end(), std::pair{info.st_dev, info.st_ino}) !=
               skippedFolders_.end();
    }
    std::mutex mutex_;
    std::condition_variable queueCv_, progressCv_;
    std::vector<Task> tasks_;
    int rootDescriptor_ = -1;
    int64_t pending_ = 0;
    bool planned_ = false;
    std::vector<std::vector<DirNode*>> byWorker_;
    std::vector<uint32_t> slots_; // depth-first position -> place in the size order
    std::atomic<int64_t> items_{0};
    std::atomic<bool> nameWanted_{false};
    std::string currentName_;
};

// Places every file in depth-first name order and collects the warnings in the same order.
// Returns the folders that hold files, grouped by the worker that listed them.
std::vector<std::vector<DirNode*>> placeFiles(DirNode& root, ScanReport& report, size_t workers)
{
    struct Frame {
        DirNode* node;
        size_t event = 0;
        size_t fileIndex = 0;
    };
    std::vector<std::vector<DirNode*>> byWorker(workers);
    std::vector<Frame> stack{{&root}};
    size_t next = 0;
    auto place = [&next](DirNode& node, size_t& from, size_t upTo) {
        if (upTo > from) {
            node.runs.emplace_back(from, next);
            next += upTo - from;
            from = upTo;
        }
    };
    while (!stack.empty()) {
        Frame& frame = stack.back();
        DirNode& node = *frame.node;
        if (frame.event == node.events.size()) {
            place(node, frame.fileIndex, node.files.size());
            if (!node.files.empty() && node.lister >= 0) byWorker[static_cast<size_t>(node.lister)].push_back(&node);
            stack.pop_back();
            continue;
        }
        auto& event = node.events[frame.event++];
        place(node, frame.fileIndex, event.filesBefore);
        if (event.child) {
            stack.push_back(Frame{event.child.get()});
        } else {
            addWarning(report.warnings, std::move(event.warning));
        }
    }
    report.files.resize(next);
    return byWorker;
}

// Largest first; equal sizes keep their walk order. The final slot of every file is known
// before any record is built, so records are written straight into their sorted place.
std::vector<uint32_t> sortedSlots(const std::vector<std::vector<DirNode*>>& byWorker, size_t count)
{
    std::vector<std::pair<int64_t, uint32_t>> keys;
    keys.reserve(count);
    for (const auto& nodes : byWorker)
        for (const DirNode* node : nodes)
            for (size_t r = 0; r < node->runs.size(); ++r) {
                size_t from = node->runs[r].first;
                size_t to = r + 1 < node->runs.size() ? node->runs[r + 1].first : node->files.size();
                size_t at = node->runs[r].second;
                for (size_t k = from; k < to; ++k, ++at)
                    keys.emplace_back(node->files[k].size, static_cast<uint32_t>(at));
            }
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<uint32_t> slot(count);
    for (size_t i = 0; i < keys.size(); ++i) slot[keys[i].second] = static_cast<uint32_t>(i);
    return slot;
}

} // namespace

ScanReport scan(const std::string& rootPath, const ScanProgressHandler& progress, std::stop_token stop)
{
    using clock = std::chrono::steady_clock;
    ScanReport report;
    auto started = clock::now();
    std::string root;
    try {
        root = canonicalURL(rootPath);
    } catch (const std::exception&) {
        report.warnings = {"扫描目录不存在或无法访问。"};
        report.skipped = 1;
        return report;
    }
    int descriptor = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        report.warnings = {"无法读取所选目录。"};
        return report;
    }
    // Tessyn's own stores (history, journal, lock files) are never offered for a move.
    std::string homeTrash = canonicalOrSame(Locations::homeTrash());
    std::string ownData = canonicalOrSame(Locations::applicationSupport());

    DirNode tree;
    tree.path = root;
    // Nor are the Trash's items and info files, also where a bind mount shows them.
    Walk walk(stop, homeTrash, ownData, Trash::folderIdentities(root));
    walk.run(&tree, root, descriptor, progress,
             [&] { return placeFiles(tree, report, workerCount()); },
             report.files);

    report.inspected = walk.inspected.load();
    report.skipped = walk.skipped.load();
    // Only a stop seen before an item counts: a walk that ran to its end is complete.
    report.cancelled = walk.cancelled.load();
    report.applyStatistics(walk.totals_);
    report.elapsed = std::chrono::duration<double>(clock::now() - started).count();
    if (progress) progress(ScanProgress{report.inspected, report.skipped, walk.bytes.load(), ""});
    return report;
}

} // namespace FileEngine
