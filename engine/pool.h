// A few threads that make the calls of independent copies at once, for a
// volume that answers each call late (a network share, a slow stick): its
// round trips then overlap instead of adding up. Each job belongs to a
// group (the directory it writes in); a free thread takes the first job of
// the group with the fewest jobs going, as a system lets one call at a time
// create or rename in a directory. The caller takes results in its order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
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
    auto submit(F job, std::uint64_t group = 0) -> std::future<decltype(job())> {
        auto task = std::make_shared<std::packaged_task<decltype(job())()>>(std::move(job));
        auto result = task->get_future();
        {
            std::lock_guard<std::mutex> lock(m_);
            jobs_.push_back({[task] { (*task)(); }, group});
        }
        cv_.notify_one();
        return result;
    }

private:
    struct Job {
        std::function<void()> call;
        std::uint64_t group = 0;
    };
    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(m_);
                cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                auto next = jobs_.begin();
                int fewest = going(next->group);
                for (auto j = jobs_.begin(); j != jobs_.end() && fewest > 0; ++j)
                    if (const int n = going(j->group); n < fewest) fewest = n, next = j;
                job = std::move(*next);
                jobs_.erase(next);
                ++going_[job.group];
            }
            job.call();
            std::lock_guard<std::mutex> lock(m_);
            if (--going_[job.group] == 0) going_.erase(job.group);
        }
    }
    int going(std::uint64_t group) const {
        const auto g = going_.find(group);
        return g == going_.end() ? 0 : g->second;
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    std::unordered_map<std::uint64_t, int> going_;  // jobs running, by group
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qm::engine
