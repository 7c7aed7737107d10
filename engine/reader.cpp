#include "engine/reader.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace qm::engine {

bool shown_as_subdirectory(const os::DirEntry& e) {
    return e.kind == os::Kind::dir && !e.hidden && !e.system;
}

namespace {

// The positions of entries in list order.
std::vector<std::uint32_t> listed_order(const std::vector<os::DirEntry>& all,
                                        const std::function<void()>& pace) {
    const std::size_t n = all.size();
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    // Most comparisons are settled by the first eight letters, folded, as
    // one number: a small array to look in, not every entry.
    std::vector<std::uint64_t> keys(n);
    for (std::size_t i = 0; i < n; ++i) keys[i] = listed_key(all[i].name);
    auto before = [&](std::uint32_t a, std::uint32_t b) {
        if (keys[a] != keys[b]) return keys[a] < keys[b];
        return listed_before(all[a].name, all[b].name);
    };
    // Sorted by position rather than by moving whole entries, in runs that
    // are then merged, each step a short one.
    constexpr std::size_t kRun = 4096;
    auto step = [&] {
        if (pace) pace();
    };
    for (std::size_t b = 0; b < n; b += kRun) {
        std::sort(order.begin() + static_cast<std::ptrdiff_t>(b),
                  order.begin() + static_cast<std::ptrdiff_t>(std::min(n, b + kRun)), before);
        step();
    }
    for (std::size_t width = kRun; width < n; width *= 2) {
        for (std::size_t b = 0; b + width < n; b += 2 * width) {
            const auto first = order.begin() + static_cast<std::ptrdiff_t>(b);
            std::inplace_merge(
                first, first + static_cast<std::ptrdiff_t>(width),
                order.begin() + static_cast<std::ptrdiff_t>(std::min(n, b + 2 * width)), before);
            step();
        }
    }
    return order;
}

}  // namespace

void put_in_listed_order(std::vector<os::DirEntry>& entries, const std::function<void()>& pace) {
    // A listing put in order on a reading thread needs one look.
    if (std::is_sorted(entries.begin(), entries.end(),
                       [](const auto& a, const auto& b) { return listed_before(a.name, b.name); }))
        return;
    std::vector<std::uint32_t> order = listed_order(entries, pace);
    // Each cycle of the permutation moved round once: no second copy of
    // the entries is ever held. A place done points at itself.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start) continue;
        os::DirEntry held = std::move(entries[start]);
        std::size_t at = start;
        while (order[at] != start) {
            const std::size_t from = order[at];
            entries[at] = std::move(entries[from]);
            order[at] = static_cast<std::uint32_t>(at);
            at = from;
        }
        entries[at] = std::move(held);
        order[at] = static_cast<std::uint32_t>(at);
    }
}

DirRead make_dir_read(std::string path, os::Result<std::vector<os::DirEntry>> listing,
                      const std::function<bool()>& between) {
    DirRead out;
    out.path = std::move(path);
    if (!listing) {
        out.error = listing.error();
        return out;
    }
    // Called between pieces of the work, so that a directory of many files
    // never holds the window for long; once it says stop, no more.
    bool going = static_cast<bool>(between);
    auto pace = [&] {
        if (going) going = between();
    };
    // The files shown are gathered at the front of the listing itself:
    // a directory of many files is held once, not twice, on its way.
    auto& all = *listing;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        auto& e = all[i];
        if (shown_as_subdirectory(e)) out.subdirectories.push_back(std::move(e.name));
        if (e.kind != os::Kind::file) continue;
        if (e.hidden || e.system)
            out.hidden.push_back(std::move(e.name));
        else if (kept++ != i)
            all[kept - 1] = std::move(e);
    }
    all.resize(kept);
    // A directory of many subdirectories and few files keeps little.
    if (kept < all.capacity() / 2) all.shrink_to_fit();
    put_in_listed_order(all, pace);
    auto made = std::make_shared<FileListing>();
    made->entries = std::move(all);
    out.files = std::move(made);
    return out;
}

Reader::~Reader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        for (auto& q : lanes_)
            for (auto& j : q) j->stop = true;
    }
    work_.notify_all();
    for (auto& t : threads_) t.join();
}

Reader::Entries Reader::read(os::Os& os, Lane lane, const std::string& path, bool ahead,
                             const std::function<bool()>& between) {
    // A pair named ahead has not been looked at yet: the walk passes over
    // one whose directory is a link, and so does its read.
    if (ahead) {
        auto st = os.stat(path);
        if (!st) return std::unexpected(st.error());
        if (st->kind != os::Kind::dir)
            return std::unexpected(
                os::make_error(os::Errc::not_dir, "read directory", path, "not a directory"));
    }
    if (lane == Lane::listing) {
        auto entries = os.list_dir(path);
        if (!entries) return entries;
        // A fresh vector: the listing's own keeps room for all its files.
        std::vector<os::DirEntry> dirs;
        for (auto& e : *entries)
            if (e.kind == os::Kind::dir) dirs.push_back(std::move(e));
        return dirs;
    }
    auto listing = os.list_dir_detailed(path, between);
    // Sorted where it was read: the list then only checks it.
    if (listing) put_in_listed_order(*listing, [&] { (void)(between && between()); });
    return listing;
}

void Reader::ensureThreads() {
    // Made on first use: a program that never runs a batch needs none.
    if (!threads_.empty()) return;
    for (int i = 0; i < kThreads; ++i) threads_.emplace_back([this] { run(); });
}

void Reader::want(Lane l, const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ensureThreads();
        auto& q = lane(l);
        std::vector<JobPtr> jobs;
        for (const auto& p : paths) {
            auto j = std::make_shared<Job>();
            j->path = p;
            j->lane = l;
            // The Os installed now, on the walk's thread: the reading
            // threads never look at what is installed.
            j->os = &os::current();
            j->ahead = l != Lane::listing;
            j->urgent = false;
            jobs.push_back(std::move(j));
        }
        if (l == Lane::listing)
            q.insert(q.begin(), jobs.begin(), jobs.end());
        else
            q.insert(q.end(), jobs.begin(), jobs.end());
    }
    work_.notify_all();
}

void Reader::start(Lane l, const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ensureThreads();
        auto j = std::make_shared<Job>();
        j->path = path;
        j->lane = l;
        j->os = &os::current();
        j->ahead = false;
        j->urgent = true;
        lane(l).push_front(std::move(j));
    }
    work_.notify_all();
}

bool Reader::queued(Lane l, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string wanted = os::with_separator(path);
    const auto& q = lane(l);
    return std::any_of(q.begin(), q.end(),
                       [&](const JobPtr& j) { return os::with_separator(j->path) == wanted; });
}

void Reader::drop(const JobPtr& job) {
    if (job->done) heldEntries_ -= job->entries;
    if (job->lane == Lane::listing && job->started) --listingStarted_;
    job->inLane = false;
    job->stop = true;  // its result, when it comes, is held by nobody
}

Reader::Entries Reader::take(Lane l, const std::string& path,
                             const std::function<bool()>& between) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto& q = lane(l);
    const std::string wanted = os::with_separator(path);
    const auto it = std::find_if(
        q.begin(), q.end(), [&](const JobPtr& j) { return os::with_separator(j->path) == wanted; });
    if (it == q.end()) {
        lock.unlock();
        return read(os::current(), l, path, false, between);
    }
    // Those before it were passed over: their room may let the next start.
    for (auto n = it - q.begin(); n > 0; --n) {
        drop(q.front());
        q.pop_front();
    }
    JobPtr job = std::move(q.front());
    q.pop_front();
    job->inLane = false;
    if (l == Lane::listing && job->started) --listingStarted_;
    Entries r;
    if (job->done) {
        heldEntries_ -= job->entries;
        r = std::move(job->result);
    } else if (!job->started) {
        // Not begun: made here rather than waited for behind later work.
        job->stop = true;
        lock.unlock();
        work_.notify_all();
        r = read(os::current(), l, path, job->ahead, between);
        lock.lock();
    } else {
        // Being read: the one needed next, waited for.
        while (!job->done) {
            if (done_.wait_for(lock, std::chrono::milliseconds(20)) == std::cv_status::timeout &&
                between && !job->stop) {
                lock.unlock();
                const bool go = between();
                lock.lock();
                if (!go) job->stop = true;
            }
        }
        r = std::move(job->result);
    }
    const bool stopped = job->stop && !r && r.error().code == os::Errc::cancelled;
    lock.unlock();
    work_.notify_all();
    // A read ahead that failed may have come before the walk made the
    // directory: made again here, as the walk meets it now.
    if (!r && job->ahead && !stopped && (!between || between()))
        return read(os::current(), l, path, false, between);
    return r;
}

Reader::JobPtr Reader::nextToRead() {
    // Asked for now: first.
    for (Lane l : {Lane::source, Lane::target})
        if (auto& q = lane(l); !q.empty() && !q.front()->started && q.front()->urgent)
            return q.front();
    const bool room = heldEntries_ < held_;
    // A pair's lanes in order, the first of each read whatever is held;
    // the sooner of the two first.
    JobPtr best;
    std::size_t bestAt = 0;
    for (Lane l : {Lane::source, Lane::target}) {
        auto& q = lane(l);
        for (std::size_t i = 0; i < q.size(); ++i) {
            if (q[i]->started) continue;
            if ((i == 0 || room) && (!best || i < bestAt)) {
                best = q[i];
                bestAt = i;
            }
            break;
        }
    }
    if (best) return best;
    if (!room) return nullptr;
    // The listing's the one needed last: the walk lists from the front, and
    // the two meet somewhere in between without waiting for each other.
    // Those started are the lane's last ones: the walk takes from the
    // front, and new ones come in front.
    auto& q = lane(Lane::listing);
    if (q.size() <= listingStarted_) return nullptr;
    ++listingStarted_;
    return q[q.size() - listingStarted_];
}

void Reader::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        JobPtr job;
        work_.wait(lock, [&] { return quit_ || (job = nextToRead()) != nullptr; });
        if (quit_) return;
        job->started = true;
        ++reading_;
        lock.unlock();
        Entries r = job->stop ? Entries(std::unexpected(os::cancelled("read directory", job->path)))
                              : read(*job->os, job->lane, job->path, job->ahead,
                                     [&job] { return !job->stop.load(); });
        lock.lock();
        --reading_;
        // Counted as held while it waits in its lane: the result may be
        // moved out before it is forgotten.
        const bool waiting = job->inLane;
        job->entries = waiting ? (r ? std::max<std::size_t>(1, r->size()) : 1) : 0;
        heldEntries_ += job->entries;
        job->result = std::move(r);
        job->done = true;
        done_.notify_all();
    }
}

void Reader::forget() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (auto& q : lanes_) {
        for (auto& j : q) drop(j);
        q.clear();
    }
    listingStarted_ = 0;
    done_.wait(lock, [this] { return reading_ == 0; });
    heldEntries_ = 0;
}

}  // namespace qm::engine
