// A few threads that make the calls of independent copies at once, for a
// volume that answers each call late (a network share, a slow stick): its
// round trips then overlap instead of adding up. Jobs are taken in the
// order given; the caller takes their results in that order too.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qm::engine {

class CallPool {
public:
    explicit CallPool(std::size_t threads) {
        for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
    }
    // Finishes every job given before it returns: none outlives the pool.
    ~CallPool() {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_) t.join();
    }
    CallPool(const CallPool&) = delete;
    CallPool& operator=(const CallPool&) = delete;

    std::size_t size() const { return threads_.size(); }

    template <class F>
    auto submit(F job) -> std::future<decltype(job())> {
        auto task = std::make_shared<std::packaged_task<decltype(job())()>>(std::move(job));
        auto result = task->get_future();
        {
            std::lock_guard<std::mutex> lock(m_);
            jobs_.emplace_back([task] { (*task)(); });
        }
        cv_.notify_one();
        return result;
    }

private:
    void run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_);
                cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qm::engine
