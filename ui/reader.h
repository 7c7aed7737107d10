// Reads directories' listings on a thread of its own, in the order they
// were queued, so that the window's thread can do other work meanwhile.
// Reads go on while earlier results wait to be taken, up to a bound on the
// entries held, so that a run never waits for the thread to be handed its
// next directory.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace qm::ui {

class BackgroundReader {
public:
    // Listings read and not yet taken hold at most about this many
    // entries, besides the one asked for first.
    static constexpr std::size_t kHeldEntries = 8192;

    explicit BackgroundReader(std::size_t heldEntries = kHeldEntries) : held_(heldEntries) {}
    ~BackgroundReader();
    BackgroundReader(const BackgroundReader&) = delete;
    BackgroundReader& operator=(const BackgroundReader&) = delete;

    // Reads path with list_dir_detailed after those queued before it; one
    // that is a link, or no directory, fails unread.
    void queue(const std::string& path);
    // Reads path before anything queued that is not being read yet.
    void start(const std::string& path);
    // Whether path is queued and not cancelled; if so, the reads queued
    // before it are forgotten and its own comes first. Those after it stay.
    bool serves(const std::string& path);
    // Whether the first read has finished, after waiting at most ms.
    bool wait(unsigned ms);
    // Asks every read queued to stop early; each then fails as cancelled.
    void cancel();
    // Cancels every read, waits for the one going to end and forgets them
    // all: once dropped, a read touches nothing (its Os, its callbacks).
    void drop();
    // The result of the first read, once it has finished, in list order.
    os::Result<std::vector<os::DirEntry>> take();

private:
    struct Job {
        std::uint64_t id;
        std::string path;
        os::Os* os;  // what it is read with
        std::optional<os::Result<std::vector<os::DirEntry>>> result;
        std::size_t entries;  // what the result holds
        bool ahead;           // queued: never read through a link
    };
    void add(const std::string& path, bool ahead);
    void run();
    os::Result<std::vector<os::DirEntry>> read(os::Os& os, const std::string& path, bool ahead,
                                               bool cancelled);
    // The next job to read, if the bound allows; null for none.
    Job* nextToRead();
    void forgetFront();
    void forgetIfCancelled(std::unique_lock<std::mutex>& lock);

    const std::size_t held_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable work_;  // for the reading thread
    std::condition_variable done_;  // for the window's thread
    std::deque<Job> jobs_;
    std::uint64_t nextId_ = 0;
    std::optional<std::uint64_t> reading_;  // the job being read
    std::size_t heldEntries_ = 0;           // in results not yet taken
    std::atomic<bool> stopReading_{false};  // the job being read stops
    bool cancelAll_ = false;                // until dropped
    bool quit_ = false;
};

}  // namespace qm::ui
