#include "ui/reader.h"

#include <chrono>

namespace qm::ui {

BackgroundReader::~BackgroundReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void BackgroundReader::start(const std::string& path) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stop_ = true;
        job_.reset();
        cv_.wait(lock, [this] { return !busy_; });
        job_ = path;
        // The Os installed now, on the window's thread: the reading thread
        // never looks at what is installed, which only this thread changes.
        jobOs_ = &os::current();
        result_.reset();
        stop_ = false;
    }
    pending_ = path;
    // Made on first use: a window that never runs a batch needs none.
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    cv_.notify_all();
}

void BackgroundReader::drop() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stop_ = true;
        job_.reset();
        cv_.wait(lock, [this] { return !busy_; });
        result_.reset();
    }
    pending_.clear();
}

bool BackgroundReader::wait(unsigned ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms),
                        [this] { return result_.has_value(); });
}

os::Result<std::vector<os::DirEntry>> BackgroundReader::take() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return result_.has_value(); });
    auto r = std::move(*result_);
    result_.reset();
    pending_.clear();
    return r;
}

void BackgroundReader::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return quit_ || job_.has_value(); });
        if (quit_) return;
        const std::string path = std::move(*job_);
        os::Os& os = *jobOs_;
        job_.reset();
        busy_ = true;
        lock.unlock();
        auto r = os.list_dir_detailed(path, [this] { return !stop_.load(); });
        lock.lock();
        busy_ = false;
        result_ = std::move(r);
        cv_.notify_all();
    }
}

}  // namespace qm::ui
