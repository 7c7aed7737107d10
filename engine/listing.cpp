// The source tree's subdirectories, in pre-order, into the source list file.
#include <vector>

#include "batch/store.h"
#include "engine/engine.h"
#include "engine/pool.h"

namespace qm::engine {

Engine::Engine(Host& host, batch::Store& store) : host_(host), store_(store) {}
// Copies still going stop, and the pool's threads end with them before
// anything they use.
Engine::~Engine() {
    cancelCopies_ = true;
    pool_.reset();
}

void Engine::ListDirectoryTree(const std::string& Root) {
    // A second request while a listing runs cancels it and lists nothing.
    if (ListingActive) {
        ListingActive = false;
        return;
    }
    host_.showBusy(Busy::listing, true);
    ListingActive = true;
    listBuffer_.clear();
    {
        // The reader lists the levels to come while this thread lists one;
        // what it holds is forgotten when the listing ends however it ends.
        struct Forget {
            Reader& reader;
            ~Forget() { reader.forget(); }
        } forget{reader_};
        ListDirectoryLevel(Root);
    }
    ListingActive = false;
    // Whatever the levels hold, also after a cancel; not after a failure,
    // which has already stopped the entry.
    if (!listFailed_ && !host_.ending()) writeListBuffer();
    listBuffer_.clear();
    host_.showBusy(Busy::listing, false);
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
        auto entries = reader_.take(Reader::Lane::listing, Path);
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
    // The first is listed here next; the reader takes the others.
    if (names.size() > 1) {
        std::vector<std::string> later;
        later.reserve(names.size() - 1);
        for (std::size_t i = 1; i < names.size(); ++i)
            later.push_back(os::with_separator(Path + names[i]));
        reader_.want(Reader::Lane::listing, later);
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
