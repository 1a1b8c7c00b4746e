#include "engine/DuplicateEngine.h"

#include "engine/CancellationError.h"
#include "engine/ContentReader.h"
#include "engine/Dates.h"
#include "engine/FileEngine.h"
#include "engine/Sha256.h"
#include "platform/Errors.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace DuplicateEngine {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
constexpr unsigned kMaxThreads = 4;
// Descriptors kept open between the stages of one file; beyond this, files are reopened.
constexpr int kMaxKeptOpen = 256;

// Where the next reading stage of a file of `size` bytes ends, given what is already hashed:
// 4 KiB, 1 MiB, then eight times further each stage, and the whole rest once it is shorter
// than what has been read. Files of one size that already differ stop being read early.
int64_t nextBoundary(int64_t offset, int64_t size)
{
    int64_t boundary;
    if (offset < 4096) boundary = 4096;
    else if (offset < (1 << 20)) boundary = 1 << 20;
    else if (offset > size / 8) return size;
    else boundary = offset * 8;
    if (boundary >= size || size - boundary < boundary) return size;
    return boundary;
}

enum class Outcome : uint8_t { Pending, Hashed, Distinct, Failed };

struct Job {
    const FileEntry* record = nullptr;
    uint32_t item = 0;   // position in the list sorted by path
    uint32_t bucket = 0;
    bool started = false;
    int fd = -1;         // kept open between stages, within kMaxKeptOpen
    int64_t offset = 0;
    std::unique_ptr<Sha256> hash;
    Sha256::Digest mark{}; // digest of the part read so far; the full digest once hashed
    Outcome outcome = Outcome::Pending;
    std::string error;
};

struct Bucket {
    int64_t size = 0;
    std::vector<uint32_t> members; // jobs, in path order
    int64_t boundary = 0;          // end of the stage being read
    size_t reading = 0;            // members still reading that stage
};

// The checks of FileEngine::validate, answered from the open descriptor when it can vouch for
// the file: fstat gives the fresh status of the very file being read, and the kernel's own
// path of the descriptor shows that the record's path still leads to it without a link.
// Anything short of a clean pass is decided by FileEngine::validate itself.
class OpenValidator {
public:
    explicit OpenValidator(const std::string& root) : root_(root)
    {
        try {
            std::string resolved = FileEngine::canonicalURL(root);
            prefix_ = resolved == "/" ? "/" : resolved + "/";
        } catch (const std::exception&) {
            // Every file will fail the full validation with the root's own error.
        }
    }

    void check(const FileEntry& record, int fd) const
    {
        if (passes(record, fd)) return;
        FileEngine::validate(record, root_);
    }

    // Opens the record's file after a first validation; the validation's refusal comes
    // before the open's own error, as it would when validating by path first.
    std::unique_ptr<ContentReader> open(const FileEntry& record) const
    {
        std::unique_ptr<ContentReader> reader;
        try {
            reader = std::make_unique<ContentReader>(record);
        } catch (const std::exception&) {
            FileEngine::validate(record, root_);
            throw;
        }
        check(record, reader->descriptor());
        return reader;
    }

private:
    bool passes(const FileEntry& record, int fd) const
    {
        if (prefix_.empty() || !record.changed || record.path.size() <= prefix_.size() ||
            record.path.compare(0, prefix_.size(), prefix_) != 0)
            return false;
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<int32_t>(info.st_dev) != record.device ||
            static_cast<uint64_t>(info.st_ino) != record.inode || static_cast<int64_t>(info.st_size) != record.size ||
            dateFromTimespec(info.st_mtim) != record.modified || dateFromTimespec(info.st_ctim) != *record.changed)
            return false;
        char link[40];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        thread_local std::vector<char> buffer(2 * PATH_MAX);
        if (buffer.size() < record.path.size() + 2) buffer.resize(record.path.size() + 2);
        ssize_t length = ::readlink(link, buffer.data(), buffer.size());
        return length > 0 && static_cast<size_t>(length) == record.path.size() &&
               std::memcmp(buffer.data(), record.path.data(), record.path.size()) == 0;
    }

    const std::string& root_;
    std::string prefix_;
};

// Hashes the candidates of several sizes on a few threads. Files of one size are read in
// stages; after each stage the files whose content so far is unique among the rest of their
// size are given up without reading further, since they cannot match anything. Every byte is
// read once: the running hash is kept between stages. Each file is validated before its
// first read and after each stage of reading, so its last read is followed by a validation
// just as in a single digest.
class Search {
public:
    Search(std::vector<Job>& jobs, std::vector<Bucket>& buckets, const std::string& root,
           std::stop_token stop)
        : jobs_(jobs), buckets_(buckets), validator_(root), stop_(std::move(stop)) {}

    void run(int64_t total, const ProgressHandler& progress)
    {
        unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
        size_t threads = std::min<size_t>({kMaxThreads, hardware, jobs_.size()});
        std::stop_callback wake(stop_, [this] {
            std::lock_guard lock(mutex_);
            workCv_.notify_all();
        });
        lastReport_ = Clock::now() - kProgressInterval;
        std::vector<std::thread> workers;
        workersLeft_ = threads;
        for (size_t i = 0; i < threads; ++i) {
            try {
                workers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break; // fewer threads, or none: see below
            }
        }
        {
            std::lock_guard lock(mutex_);
            workersLeft_ -= threads - workers.size();
        }
        if (workers.empty()) {
            // No thread could be started: search on this one, reporting only at the end.
            workersLeft_ = 1;
            work();
        }

        std::unique_lock lock(mutex_);
        while (workersLeft_ > 0) {
            mainCv_.wait(lock, [this] { return workersLeft_ == 0 || reportDue_; });
            if (workersLeft_ == 0) break;
            reportDue_ = false;
            DuplicateProgress value{handled_, total, lastName_};
            lock.unlock();
            if (progress) progress(value);
            lock.lock();
            lastReport_ = Clock::now();
        }
        lock.unlock();
        for (auto& worker : workers) worker.join();
        for (auto& job : jobs_)
            if (job.fd >= 0) ::close(job.fd);
    }

    int64_t handled() const { return handled_; }

private:
    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (stop_.stop_requested()) break;
            uint32_t job;
            if (!ready_.empty()) {
                job = ready_.back();
                ready_.pop_back();
            } else if (cursor_ < jobs_.size()) {
                job = static_cast<uint32_t>(cursor_++);
            } else if (running_ == 0) {
                break;
            } else {
                workCv_.wait(lock);
                continue;
            }
            ++running_;
            lock.unlock();
            bool done = advance(jobs_[job]);
            lock.lock();
            --running_;
            if (done) settle(jobs_[job]);
            if (running_ == 0 || !ready_.empty()) workCv_.notify_all();
        }
        if (--workersLeft_ == 0) {
            workCv_.notify_all();
            mainCv_.notify_all();
        }
    }

    // Reads the job's file up to its bucket's current boundary and validates it again.
    // False when a stop request cut it short.
    bool advance(Job& job)
    {
        if (stop_.stop_requested()) return false;
        const Bucket& bucket = buckets_[job.bucket];
        try {
            std::unique_ptr<ContentReader> reader;
            if (!job.started) {
                job.started = true;
                reader = validator_.open(*job.record);
                job.hash = std::make_unique<Sha256>();
            } else if (job.fd >= 0) {
                reader = std::make_unique<ContentReader>(job.fd, job.offset);
                job.fd = -1;
                keptOpen_.fetch_sub(1);
            } else {
                reader = std::make_unique<ContentReader>(*job.record, job.offset);
            }
            bool complete = reader->feed(*job.hash, bucket.boundary, stop_);
            job.offset = reader->offset();
            bool ended = !complete || job.offset >= bucket.size;
            if (ended && stop_.stop_requested()) return false;
            validator_.check(*job.record, reader->descriptor());
            if (ended) {
                // A file that ended early changed size and fails the check above; should it
                // not, it still matches nothing of its recorded size.
                job.outcome = job.offset == bucket.size ? Outcome::Hashed : Outcome::Distinct;
                job.mark = job.hash->finish();
                job.hash.reset();
            } else {
                job.mark = job.hash->peek();
                if (keptOpen_.fetch_add(1) < kMaxKeptOpen) job.fd = reader->release();
                else keptOpen_.fetch_sub(1);
            }
        } catch (const CancellationError&) {
            return false;
        } catch (const std::exception& error) {
            job.outcome = Outcome::Failed;
            job.error = errorDescription(error);
            job.hash.reset();
        }
        return true;
    }

    // Under the lock: counts a job that is done and, once every file of its size has read
    // the current stage, gives up the ones that are unique so far and schedules the rest.
    void settle(Job& job)
    {
        if (job.outcome != Outcome::Pending) countHandled(job);
        Bucket& bucket = buckets_[job.bucket];
        if (--bucket.reading > 0) return;

        std::vector<uint32_t> open;
        for (uint32_t member : bucket.members)
            if (jobs_[member].outcome == Outcome::Pending) open.push_back(member);
        std::stable_sort(open.begin(), open.end(),
                         [this](uint32_t a, uint32_t b) { return jobs_[a].mark < jobs_[b].mark; });
        std::vector<uint32_t> next;
        for (size_t i = 0; i < open.size();) {
            size_t j = i + 1;
            while (j < open.size() && jobs_[open[j]].mark == jobs_[open[i]].mark) ++j;
            if (j - i > 1) {
                next.insert(next.end(), open.begin() + i, open.begin() + j);
            } else {
                Job& alone = jobs_[open[i]];
                alone.outcome = Outcome::Distinct;
                alone.hash.reset();
                if (alone.fd >= 0) {
                    ::close(alone.fd);
                    alone.fd = -1;
                    keptOpen_.fetch_sub(1);
                }
                countHandled(alone);
            }
            i = j;
        }
        if (next.empty()) return;
        bucket.boundary = nextBoundary(bucket.boundary, bucket.size);
        bucket.reading = next.size();
        // Pushed in reverse so that the stack hands them out in path order.
        std::sort(next.rbegin(), next.rend());
        ready_.insert(ready_.end(), next.begin(), next.end());
    }

    void countHandled(const Job& job)
    {
        ++handled_;
        lastName_ = std::string(job.record->name());
        if (!reportDue_ && Clock::now() - lastReport_ >= kProgressInterval) {
            reportDue_ = true;
            mainCv_.notify_one();
        }
    }

    std::vector<Job>& jobs_;
    std::vector<Bucket>& buckets_;
    OpenValidator validator_;
    std::stop_token stop_;

    std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable mainCv_;
    std::vector<uint32_t> ready_;
    size_t cursor_ = 0;
    size_t running_ = 0;
    size_t workersLeft_ = 0;
    int64_t handled_ = 0;
    std::string lastName_;
    bool reportDue_ = false;
    Clock::time_point lastReport_;
    std::atomic<int> keptOpen_{0};
};

struct IdentityHash {
    size_t operator()(const std::pair<int32_t, uint64_t>& id) const
    {
        return std::hash<uint64_t>()(id.second * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(id.first));
    }
};

} // namespace

DuplicateReport find(const std::vector<FileEntry>& files, const std::string& root,
                     const ProgressHandler& progress, std::stop_token stop)
{
    // Candidates: non-empty files, the first record of each file identity.
    std::vector<const FileEntry*> candidates;
    candidates.reserve(files.size());
    {
        std::unordered_set<std::pair<int32_t, uint64_t>, IdentityHash> seen;
        seen.reserve(files.size());
        for (const auto& file : files)
            if (file.size >= 1 && seen.emplace(file.device, file.inode).second) candidates.push_back(&file);
    }
    // Only sizes held by two or more candidates are read.
    std::vector<const FileEntry*> list;
    {
        std::unordered_map<int64_t, uint32_t> sizeCounts;
        sizeCounts.reserve(candidates.size());
        for (const auto* file : candidates) ++sizeCounts[file->size];
        for (const auto* file : candidates)
            if (sizeCounts[file->size] >= 2) list.push_back(file);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const FileEntry* a, const FileEntry* b) { return a->path < b->path; });
    const auto total = static_cast<int64_t>(list.size());

    DuplicateReport report;
    if (progress) progress(DuplicateProgress{0, total, ""});

    // Sizes largest first, so the long reads start early and small files fill in at the end.
    std::vector<uint32_t> order(list.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return list[a]->size > list[b]->size; });
    std::vector<Job> jobs(list.size());
    std::vector<Bucket> buckets;
    for (size_t i = 0; i < order.size(); ++i) {
        const FileEntry* record = list[order[i]];
        if (buckets.empty() || buckets.back().size != record->size) {
            Bucket bucket;
            bucket.size = record->size;
            bucket.boundary = nextBoundary(0, record->size);
            buckets.push_back(std::move(bucket));
        }
        Bucket& bucket = buckets.back();
        bucket.members.push_back(static_cast<uint32_t>(i));
        bucket.reading += 1;
        jobs[i].record = record;
        jobs[i].item = order[i];
        jobs[i].bucket = static_cast<uint32_t>(buckets.size() - 1);
    }

    Search search(jobs, buckets, root, stop);
    if (!jobs.empty()) search.run(total, progress);
    const int64_t handled = search.handled();
    report.cancelled = handled < total;

    // Groups: equal full digests, files in path order, largest first; equal sizes by path.
    std::vector<const Job*> hashed;
    std::vector<const Job*> failed;
    for (const auto& job : jobs) {
        if (job.outcome == Outcome::Hashed) hashed.push_back(&job);
        else if (job.outcome == Outcome::Failed) failed.push_back(&job);
    }
    std::sort(hashed.begin(), hashed.end(), [](const Job* a, const Job* b) {
        return a->mark != b->mark ? a->mark < b->mark : a->item < b->item;
    });
    for (size_t i = 0; i < hashed.size();) {
        size_t j = i + 1;
        while (j < hashed.size() && hashed[j]->mark == hashed[i]->mark) ++j;
        if (j - i >= 2) {
            DuplicateGroup group;
            group.id = Sha256::hex(hashed[i]->mark);
            for (size_t k = i; k < j; ++k) group.files.push_back(*hashed[k]->record);
            report.groups.push_back(std::move(group));
        }
        i = j;
    }
    std::sort(report.groups.begin(), report.groups.end(), [](const DuplicateGroup& a, const DuplicateGroup& b) {
        if (a.files.front().size != b.files.front().size) return a.files.front().size > b.files.front().size;
        return a.files.front().path < b.files.front().path;
    });

    // Warnings in the order a walk through the path-sorted list meets them.
    std::sort(failed.begin(), failed.end(), [](const Job* a, const Job* b) { return a->item < b->item; });
    for (const Job* job : failed)
        if (!addWarning(report.warnings, warningLine(job->record->name(), job->error))) break;

    if (progress) progress(DuplicateProgress{report.cancelled ? handled : total, total, ""});
    return report;
}

std::string digest(const FileEntry& record, const std::string& root, std::stop_token stop)
{
    FileEngine::validate(record, root);
    Sha256 hash;
    {
        ContentReader reader(record);
        reader.feed(hash, std::numeric_limits<int64_t>::max(), stop);
    }
    if (stop.stop_requested()) throw CancellationError();
    FileEngine::validate(record, root);
    return Sha256::hex(hash.finish());
}

std::optional<std::string> deletionError(const DuplicateGroup& group,
                                         const std::unordered_set<std::string>& selection,
                                         const std::string& root, std::stop_token stop)
{
    std::vector<const FileEntry*> selected;
    const FileEntry* kept = nullptr;
    for (const auto& file : group.files) {
        if (selection.count(file.path)) selected.push_back(&file);
        else if (!kept) kept = &file;
    }
    if (selected.empty()) return std::nullopt;
    if (!kept) return std::string("同一重复组至少保留一份文件。");
    auto check = [&](const FileEntry& file, const char* changedText) -> std::optional<std::string> {
        try {
            if (digest(file, root, stop) != group.id) return std::string(changedText);
        } catch (const std::exception& error) {
            return "重复文件复核失败：" + errorDescription(error);
        }
        return std::nullopt;
    };
    if (auto problem = check(*kept, "保留文件的内容已变化，请重新检测。")) return problem;
    for (const FileEntry* file : selected)
        if (auto problem = check(*file, "所选文件内容已变化，请重新检测。")) return problem;
    return std::nullopt;
}

} // namespace DuplicateEngine
