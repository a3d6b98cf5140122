// The walk's worker threads.
#include "sync/worker_pool.h"

#include "model/settings.h"

int DefaultThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) {
        return 1;
    }
    return cores > static_cast<unsigned>(kMostThreads) ? kMostThreads : static_cast<int>(cores);
}

int ThreadCountOf(int setting) {
    return setting >= 1 && setting <= kMostThreads ? setting : DefaultThreadCount();
}

CWorkerPool::CWorkerPool(int threads) {
    const int count = threads < 1 ? 1 : threads;
    workers_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        workers_.emplace_back([this] { Work(); });
    }
}

CWorkerPool::~CWorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void CWorkerPool::Submit(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void CWorkerPool::Work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (closing_) {
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}
