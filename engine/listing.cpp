// The source tree's subdirectories, in pre-order, into the source list file.
#include <memory>
#include <vector>

#include "engine/ahead.h"
#include "engine/engine.h"
#include "engine/pool.h"

namespace qm::engine {

Engine::Engine(Host& host) : host_(host) {}
Engine::~Engine() = default;

void Engine::ListDirectoryTree(const std::string& Root) {
    // A second request while a listing runs cancels it and lists nothing.
    if (ListingActive) {
        ListingActive = false;
        return;
    }
    host_.setBusyPointer(true);
    ListingActive = true;
    listBuffer_.clear();
    {
        // A helper lists the levels to come while this thread lists one;
        // gone, with its thread, when the listing ends however it ends.
        ahead_ = std::make_unique<ListAhead>(os::current());
        ListDirectoryLevel(Root);
        ahead_.reset();
    }
    ListingActive = false;
    // Whatever the levels hold, also after a cancel; not after a failure,
    // which has already stopped the entry.
    if (!listFailed_ && !host_.ending()) writeListBuffer();
    listBuffer_.clear();
    host_.setBusyPointer(false);
}

bool Engine::writeListBuffer() {
    if (listBuffer_.empty()) return true;
    auto w = os::current().append_file(listPath(SourceListName), listBuffer_);
    listBuffer_.clear();
    if (!w) {
        // A shorter list would skip directories unseen: the entry stops.
        listFailed_ = w.error();
        ListingActive = false;
        return false;
    }
    return true;
}

void Engine::ListDirectoryLevel(const std::string& Path) {
    yieldNow();
    if (host_.ending()) ListingActive = false;
    if (!ListingActive) return;
    auto& os = os::current();
    std::vector<std::string> names;
    {
        auto entries = ahead_ ? ahead_->take(Path) : os.list_dir(Path);
        if (!entries) {
            // Contributes nothing; its siblings are still listed.
            logFailure(Outcome::notReplicated, Path,
                       Path + ": not listed: " + entries.error().message(),
                       entries.error().message());
            return;
        }
        for (auto& e : *entries) {
            // Links, junctions and devices are never followed.
            if (e.kind != os::Kind::dir || e.name.empty() || e.name[0] == '.') continue;
            if (e.name.find_first_of("\r\n") != std::string::npos) {
                logFailure(Outcome::notReplicated, Path + e.name,
                           Path + e.name + ": skipped, its name holds a line break");
                continue;
            }
            if (excludeId_) {
                // The target inside the source: runs must not nest copies
                // into copies. One that cannot be told apart is left out.
                auto id = os.identity(Path + e.name);
                if (!id) {
                    logFailure(Outcome::notReplicated, Path + e.name,
                               Path + e.name + ": not listed: " + id.error().message(),
                               id.error().message());
                    continue;
                }
                if (*id == *excludeId_) continue;
                sourceDirIds_.insert(*id);
            }
            names.push_back(std::move(e.name));
        }
    }
    // The first is listed here next; the helper takes the others.
    if (ahead_ && names.size() > 1) {
        std::vector<std::string> later;
        later.reserve(names.size() - 1);
        for (std::size_t i = 1; i < names.size(); ++i)
            later.push_back(os::with_separator(Path + names[i]));
        ahead_->want(later);
    }
    for (const auto& n : names) {
        // A failure abandons every open level; a cancel only stops the
        // descent, so the open levels still write the names they hold.
        if (listFailed_ || host_.ending()) return;
        // Written in blocks: a write of its own for each directory would
        // cost more than reading it.
        listBuffer_ += Path + n + "\r\n";
        if (listBuffer_.size() >= kListBlock && !writeListBuffer()) return;
        ListDirectoryLevel(os::with_separator(Path + n));
    }
}

}  // namespace qm::engine
