// Lists directories on a helper thread ahead of a walk that takes them in
// an order it tells as it goes. The walk lists itself whatever the helper
// has not started, so it never waits behind work queued for later.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace qm::engine {

class ListAhead {
public:
    // Only the subdirectories of a listing are kept, so that a held one
    // costs little however many files it has.
    using Listing = os::Result<std::vector<os::DirEntry>>;

    // At most this many listings wait for the walk; the helper rests
    // meanwhile.
    static constexpr std::size_t kHeld = 4096;

    explicit ListAhead(os::Os& os);
    // Stops the helper, once the listing it is making is done.
    ~ListAhead();
    ListAhead(const ListAhead&) = delete;
    ListAhead& operator=(const ListAhead&) = delete;

    // Paths the walk will take, the soonest first; they come before any
    // named earlier and not taken yet.
    void want(const std::vector<std::string>& paths);
    // The subdirectories of path: the helper's listing if it made or is
    // making it, else one made here and now.
    Listing take(const std::string& path);

private:
    void run();

    os::Os& os_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::string> queued_;
    std::optional<std::string> busy_;  // the path the helper lists now
    std::unordered_map<std::string, Listing> done_;
    bool stop_ = false;
    std::thread helper_;
};

}  // namespace qm::engine
