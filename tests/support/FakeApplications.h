#pragma once
#include "platform/RunningApplications.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Running applications under the test's control; safe to call from the model's workers.
class FakeApplications : public RunningApplications {
public:
    void set(std::vector<RunningApplication> apps)
    {
        std::lock_guard lock(mutex_);
        apps_ = std::move(apps);
    }
    void terminate(int32_t pid)
    {
        std::lock_guard lock(mutex_);
        terminated_.insert(pid);
    }
    // An application asked to quit leaves at once.
    void quitTerminates(bool value)
    {
        std::lock_guard lock(mutex_);
        quitTerminates_ = value;
    }
    void acceptQuit(bool accept)
    {
        std::lock_guard lock(mutex_);
        accept_ = accept;
    }
    std::vector<int32_t> quitRequests()
    {
        std::lock_guard lock(mutex_);
        return quitRequests_;
    }
    // The running question numbered `question` (from 1, over the fake's life) waits until
    // release() or the next holdAt(): a test acts between two files of a worker.
    void holdAt(size_t question)
    {
        std::lock_guard lock(mutex_);
        holdAt_ = question;
        released_.notify_all();
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        holdAt_ = 0;
        released_.notify_all();
    }
    int listCalls()
    {
        std::lock_guard lock(mutex_);
        return listCalls_;
    }

    std::vector<RunningApplication> list() override
    {
        std::lock_guard lock(mutex_);
        ++listCalls_;
        return apps_;
    }
    // Answers from the listed applications, by bundle path or identifier, and records each
    // question (bundle path, identifier) without counting a listing.
    bool isRunning(const std::string& bundlePath, const std::string& bundleIdentifier) override
    {
        std::unique_lock lock(mutex_);
        asked_.emplace_back(bundlePath, bundleIdentifier);
        released_.wait(lock, [&, question = asked_.size()] { return holdAt_ != question; });
        for (const auto& app : apps_)
            if (app.bundlePath == bundlePath || app.bundleIdentifier == bundleIdentifier) return true;
        return false;
    }
    std::vector<std::pair<std::string, std::string>> asked()
    {
        std::lock_guard lock(mutex_);
        return asked_;
    }
    std::optional<RunningApplication> lookup(int32_t pid) override
    {
        std::lock_guard lock(mutex_);
        for (const auto& app : apps_)
            if (app.pid == pid && !terminated_.count(pid)) return app;
        return std::nullopt;
    }
    bool requestQuit(const RunningApplication& app) override
    {
        std::lock_guard lock(mutex_);
        quitRequests_.push_back(app.pid);
        if (accept_ && quitTerminates_) terminated_.insert(app.pid);
        return accept_;
    }
    bool hasTerminated(const RunningApplication& app) override
    {
        std::lock_guard lock(mutex_);
        return terminated_.count(app.pid) > 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    size_t holdAt_ = 0;
    std::vector<RunningApplication> apps_;
    std::set<int32_t> terminated_;
    std::vector<int32_t> quitRequests_;
    std::vector<std::pair<std::string, std::string>> asked_;
    bool accept_ = true;
    bool quitTerminates_ = false;
    int listCalls_ = 0;
};
