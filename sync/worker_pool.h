// CWorkerPool: a few threads that run the walk's side jobs (file copies, levels read ahead)
// while the walk thread goes on deciding and committing results in listing order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The thread count a run uses when the threads setting leaves it open: one per core.
int DefaultThreadCount();
// threads as stored (0, negative or absurd: the default) to the count a run uses.
int ThreadCountOf(int setting);

class CWorkerPool {
public:
    // threads workers, started at once.
    explicit CWorkerPool(int threads);
    // Jobs not yet started are dropped; the running ones are waited for.
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // Queues a job; jobs start in the order submitted. A job must not throw.
    void Submit(std::function<void()> job);
    int Threads() const { return static_cast<int>(workers_.size()); }

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool closing_ = false;
    std::vector<std::thread> workers_;
};

// The outcome of one job, handed from its worker to the thread that waits for it.
template <typename T>
class CJobResult {
public:
    void Set(T value) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            value_ = std::move(value);
            done_ = true;
        }
        ready_.notify_all();
    }
    // Blocks until Set was called.
    T& Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return done_; });
        return value_;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    bool done_ = false;
    T value_{};
};
