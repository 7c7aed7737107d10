// Reads one directory's listing on a thread of its own, so that the
// window's thread can read another meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace qm::ui {

class BackgroundReader {
public:
    BackgroundReader() = default;
    ~BackgroundReader();
    BackgroundReader(const BackgroundReader&) = delete;
    BackgroundReader& operator=(const BackgroundReader&) = delete;

    // Starts reading path with list_dir_detailed; one read at a time, so a
    // read still going is cancelled and its result dropped first.
    void start(const std::string& path);
    // Whether the read has finished, after waiting at most ms.
    bool wait(unsigned ms);
    // Asks the read to stop early; it then fails as cancelled.
    void cancel() { stop_ = true; }
    // The path of the read started and not yet taken; empty for none.
    const std::string& pending() const { return pending_; }
    // Cancels the pending read, waits for it to end and forgets it: once
    // dropped, a read touches nothing (its Os, its callbacks) any more.
    void drop();
    // The result of the finished read.
    os::Result<std::vector<os::DirEntry>> take();

private:
    void run();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::optional<std::string> job_;
    os::Os* jobOs_ = nullptr;  // what job_ is read with
    std::string pending_;      // the window's thread's own
    std::optional<os::Result<std::vector<os::DirEntry>>> result_;
    std::atomic<bool> stop_{false};
    bool busy_ = false;  // a read is going
    bool quit_ = false;
};

}  // namespace qm::ui
