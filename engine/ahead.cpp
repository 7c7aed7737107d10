#include "engine/ahead.h"

#include <algorithm>
#include <utility>

namespace qm::engine {

namespace {

ListAhead::Listing subdirectories(os::Os& os, const std::string& path) {
    auto entries = os.list_dir(path);
    if (!entries) return entries;
    // A fresh vector: the listing's own keeps room for all its files.
    std::vector<os::DirEntry> dirs;
    for (auto& e : *entries)
        if (e.kind == os::Kind::dir) dirs.push_back(std::move(e));
    return dirs;
}

}  // namespace

ListAhead::ListAhead(os::Os& os) : os_(os), helper_([this] { run(); }) {}

ListAhead::~ListAhead() {
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
    }
    cv_.notify_all();
    helper_.join();
}

void ListAhead::want(const std::vector<std::string>& paths) {
    {
        std::lock_guard<std::mutex> lock(m_);
        queued_.insert(queued_.begin(), paths.begin(), paths.end());
    }
    cv_.notify_all();
}

ListAhead::Listing ListAhead::take(const std::string& path) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return !busy_ || *busy_ != path; });
    if (auto it = done_.find(path); it != done_.end()) {
        Listing listing = std::move(it->second);
        done_.erase(it);
        lock.unlock();
        cv_.notify_all();  // room for the helper
        return listing;
    }
    if (auto it = std::find(queued_.begin(), queued_.end(), path); it != queued_.end())
        queued_.erase(it);
    lock.unlock();
    return subdirectories(os_, path);
}

void ListAhead::run() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
        cv_.wait(lock, [&] { return stop_ || (!queued_.empty() && done_.size() < kHeld); });
        if (stop_) return;
        // The one needed last: the walk lists from the front, and the
        // two meet somewhere in between without waiting for each other.
        busy_ = std::move(queued_.back());
        queued_.pop_back();
        lock.unlock();
        Listing listing = subdirectories(os_, *busy_);
        lock.lock();
        done_.insert_or_assign(*busy_, std::move(listing));
        busy_.reset();
        cv_.notify_all();
    }
}

}  // namespace qm::engine
