// The engine's one reader of directories. Each lane is a line of reads a
// walk will come to, soonest first: the tree listing's subdirectories, and
// the files of the pairs' sources and targets. Two threads read ahead along
// the lanes while the walk handles what comes before; the walk reads itself
// whatever they have not started, so it never waits behind work queued for
// later.
//
// One set of rules for what is dropped: taking a read forgets the reads
// queued before it in its lane (the walk passed them over); a read whose
// taker says stop stops; forget() stops and drops everything, and waits
// until no read goes on, so that nothing read ahead outlives the walk.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/host.h"
#include "platform/platform.h"

namespace qm::engine {

// What a directory list shows below its open directory.
bool shown_as_subdirectory(const os::DirEntry& e);

// Entries moved into file-list order (listed_before) where they lie; pace,
// when given, is called now and then while a long one is sorted.
void put_in_listed_order(std::vector<os::DirEntry>& entries,
                         const std::function<void()>& pace = {});

// A file list's view of one read of path: the regular files neither hidden
// nor system in list order, the hidden ones, the subdirectories shown. The
// listing's own entries are moved, not copied. between, when given, is
// called now and then while it is sorted; once it says stop, no more.
DirRead make_dir_read(std::string path, os::Result<std::vector<os::DirEntry>> listing,
                      const std::function<bool()>& between = {});

class Reader {
public:
    using Entries = os::Result<std::vector<os::DirEntry>>;

    // listing: names only, and only the subdirectories are kept, so that a
    // held one costs little however many files it has. source, target:
    // with lengths and times, in list order.
    enum class Lane { listing, source, target };

    // Reads done and not yet taken hold at most about this many entries
    // (a listing that holds none counts as one), besides the first of a
    // pair's lane, which is always read.
    static constexpr std::size_t kHeldEntries = 8192;
    static constexpr int kThreads = 2;

    explicit Reader(std::size_t heldEntries = kHeldEntries) : held_(heldEntries) {}
    // Stops the reads going on and waits for them.
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Paths the walk will come to in this lane, the soonest first. A pair's
    // come after those queued before them; the listing's before them, and
    // its threads take the one needed last, so that they meet the walk in
    // between. A pair's directory is read ahead only if it is one, never
    // through a link: the walk has not looked at it yet.
    void want(Lane lane, const std::vector<std::string>& paths);
    // Reads path on a thread now, before anything queued; it may be a link
    // (the pair's root as its entry names it).
    void start(Lane lane, const std::string& path);
    // The read of path: the one queued (waited for when it is being read,
    // made here when it is not started yet), else one made here and now.
    // The reads queued before it in its lane are forgotten. between is
    // called while it waits or reads; false stops the read, which then
    // fails as cancelled.
    Entries take(Lane lane, const std::string& path, const std::function<bool()>& between = {});
    // Whether path is queued in the lane (and not forgotten).
    bool queued(Lane lane, const std::string& path);
    // Stops every read, waits for those going on to end and forgets them
    // all: after it, no read touches anything (its Os, its callbacks).
    void forget();

private:
    struct Job {
        std::string path;
        Lane lane;
        os::Os* os;   // what it is read with
        bool ahead;   // named ahead: never read through a link
        bool urgent;  // asked for now: before anything queued
        bool started = false;
        bool done = false;
        bool inLane = true;       // neither taken nor forgotten
        std::size_t entries = 0;  // held by the result
        std::atomic<bool> stop{false};
        Entries result;
    };
    using JobPtr = std::shared_ptr<Job>;

    static Entries read(os::Os& os, Lane lane, const std::string& path, bool ahead,
                        const std::function<bool()>& between);
    void ensureThreads();
    void run();
    JobPtr nextToRead();
    void drop(const JobPtr& job);
    std::deque<JobPtr>& lane(Lane l) { return lanes_[static_cast<std::size_t>(l)]; }

    const std::size_t held_;
    std::mutex mutex_;
    std::condition_variable work_;  // for the reading threads
    std::condition_variable done_;  // for the walk
    std::array<std::deque<JobPtr>, 3> lanes_;
    std::size_t heldEntries_ = 0;
    // The listing's jobs started, at the back of its lane.
    std::size_t listingStarted_ = 0;
    int reading_ = 0;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qm::engine
