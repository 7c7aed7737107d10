// The source tree's subdirectories, in pre-order, into the source list file.
#include <vector>

#include "engine/engine.h"

namespace qm::engine {

void Engine::ListDirectoryTree(const std::string& Root) {
    // A second request while a listing runs cancels it and lists nothing.
    if (ListingActive) {
        ListingActive = false;
        return;
    }
    host_.setBusyPointer(true);
    ListingActive = true;
    listBuffer_.clear();
    ListDirectoryLevel(Root);
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
        auto entries = os.list_dir(Path);
        if (!entries) {
            // Contributes nothing; its siblings are still listed.
            logFailure(Path + ": not listed: " + entries.error().message());
            return;
        }
        for (auto& e : *entries) {
            // Links, junctions and devices are never followed.
            if (e.kind != os::Kind::dir || e.name.empty() || e.name[0] == '.') continue;
            if (e.name.find_first_of("\r\n") != std::string::npos) {
                logFailure(Path + e.name + ": skipped, its name holds a line break");
                continue;
            }
            if (excludeId_) {
                // The target inside the source: runs must not nest copies
                // into copies. One that cannot be told apart is left out.
                auto id = os.identity(Path + e.name);
                if (!id) {
                    logFailure(Path + e.name + ": not listed: " + id.error().message());
                    continue;
                }
                if (*id == *excludeId_) continue;
            }
            names.push_back(std::move(e.name));
        }
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
