#include "ui/reader.h"

#include <algorithm>
#include <chrono>

#include "ui/controls.h"

namespace qm::ui {

BackgroundReader::~BackgroundReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        stopReading_ = true;
    }
    work_.notify_all();
    if (thread_.joinable()) thread_.join();
}

// Reads cancelled serve nothing: a read asked for after them starts afresh.
void BackgroundReader::forgetIfCancelled(std::unique_lock<std::mutex>& lock) {
    if (!cancelAll_) return;
    done_.wait(lock, [this] { return !reading_.has_value(); });
    jobs_.clear();
    heldEntries_ = 0;
    cancelAll_ = false;
}

void BackgroundReader::queue(const std::string& path) {
    add(path, true);
}

void BackgroundReader::start(const std::string& path) {
    add(path, false);
}

// Queued at the back as a pair named ahead, or started at the front.
void BackgroundReader::add(const std::string& path, bool ahead) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        forgetIfCancelled(lock);
        // The Os installed now, on the window's thread: the reading thread
        // never looks at what is installed, which only this thread changes.
        Job job{nextId_++, path, &os::current(), std::nullopt, 0, ahead};
        if (ahead)
            jobs_.push_back(std::move(job));
        else
            jobs_.push_front(std::move(job));
    }
    // Made on first use: a window that never runs a batch needs none.
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    work_.notify_one();
}

bool BackgroundReader::serves(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelAll_) return false;
    const std::string wanted = os::with_separator(path);
    auto it = std::find_if(jobs_.begin(), jobs_.end(),
                           [&](const Job& j) { return os::with_separator(j.path) == wanted; });
    if (it == jobs_.end()) return false;
    for (auto n = it - jobs_.begin(); n > 0; --n) forgetFront();
    // Room held by those forgotten may let the next read start.
    work_.notify_one();
    return true;
}

void BackgroundReader::forgetFront() {
    Job& front = jobs_.front();
    if (front.result)
        heldEntries_ -= front.entries;
    else if (reading_ == front.id)
        stopReading_ = true;  // its result, when it comes, finds no job
    jobs_.pop_front();
}

bool BackgroundReader::wait(unsigned ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, std::chrono::milliseconds(ms),
                          [this] { return !jobs_.empty() && jobs_.front().result.has_value(); });
}

void BackgroundReader::cancel() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelAll_ = true;
        stopReading_ = true;
    }
    work_.notify_one();
}

void BackgroundReader::drop() {
    std::unique_lock<std::mutex> lock(mutex_);
    cancelAll_ = true;
    stopReading_ = true;
    forgetIfCancelled(lock);
}

os::Result<std::vector<os::DirEntry>> BackgroundReader::take() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !jobs_.empty() && jobs_.front().result.has_value(); });
    auto r = std::move(*jobs_.front().result);
    forgetFront();
    lock.unlock();
    work_.notify_one();
    return r;
}

BackgroundReader::Job* BackgroundReader::nextToRead() {
    for (std::size_t i = 0; i < jobs_.size(); ++i) {
        if (jobs_[i].result) continue;
        // The first asked for is always read; those after it while the
        // results waiting hold little.
        if (i == 0 || heldEntries_ < held_) return &jobs_[i];
        return nullptr;
    }
    return nullptr;
}

os::Result<std::vector<os::DirEntry>> BackgroundReader::read(os::Os& os, const std::string& path,
                                                             bool ahead, bool cancelled) {
    if (cancelled) return std::unexpected(os::cancelled("read directory", path));
    // A pair named ahead has not been looked at yet: the walk passes over
    // one whose directory is a link, and so does its read.
    if (ahead) {
        auto st = os.stat(path);
        if (!st) return std::unexpected(st.error());
        if (st->kind != os::Kind::dir)
            return std::unexpected(
                os::make_error(os::Errc::not_dir, "read directory", path, "not a directory"));
    }
    auto listing = os.list_dir_detailed(path, [this] { return !stopReading_.load(); });
    // Sorted here, beside the window's thread: the list then only checks it.
    if (listing) put_in_listed_order(*listing);
    return listing;
}

void BackgroundReader::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        work_.wait(lock, [&] { return quit_ || (job = nextToRead()) != nullptr; });
        if (quit_) return;
        const std::uint64_t id = job->id;
        const std::string path = job->path;
        os::Os& os = *job->os;
        const bool cancelled = cancelAll_;
        reading_ = id;
        stopReading_ = cancelled;
        const bool ahead = job->ahead;
        lock.unlock();
        os::Result<std::vector<os::DirEntry>> r = read(os, path, ahead, cancelled);
        lock.lock();
        reading_.reset();
        for (auto& j : jobs_) {
            if (j.id != id) continue;
            // Counted as read: the result may be moved out before it is
            // forgotten.
            j.entries = r ? std::max<std::size_t>(1, r->size()) : 1;
            heldEntries_ += j.entries;
            j.result = std::move(r);
            break;
        }
        done_.notify_all();
    }
}

}  // namespace qm::ui
