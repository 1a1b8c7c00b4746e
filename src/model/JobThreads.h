#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

// The background threads of one kind of model job. Every start gets its own thread, driven by
// the caller's stop source so the model can cancel it without holding the thread. Threads that
// have finished are joined at the next start; the rest are stopped and joined by stopAndJoin()
// or the destructor, so no worker outlives its owner.
class JobThreads {
public:
    JobThreads() = default;
    JobThreads(const JobThreads&) = delete;
    JobThreads& operator=(const JobThreads&) = delete;
    ~JobThreads() { stopAndJoin(); }

    void start(const std::stop_source& source, std::function<void(std::stop_token)> body)
    {
        reap();
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::jthread thread([body = std::move(body), token = source.get_token(), done] {
            body(token);
            done->store(true, std::memory_order_release);
        });
        jobs_.push_back(Job{source, std::move(thread), std::move(done)});
    }

    void requestStop()
    {
        for (Job& job : jobs_) job.source.request_stop();
    }

    // Waits for every thread, cancelled first.
    void stopAndJoin()
    {
        requestStop();
        join();
    }

    // Waits for every thread without cancelling it.
    void join()
    {
        for (Job& job : jobs_)
            if (job.thread.joinable()) job.thread.join();
        jobs_.clear();
    }

    size_t running() const
    {
        size_t count = 0;
        for (const Job& job : jobs_) count += job.done->load(std::memory_order_acquire) ? 0 : 1;
        return count;
    }

private:
    struct Job {
        std::stop_source source;
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void reap()
    {
        std::erase_if(jobs_, [](Job& job) {
            if (!job.done->load(std::memory_order_acquire)) return false;
            job.thread.join();
            return true;
        });
    }

    std::vector<Job> jobs_;
};
