// The replication engine: batch run, directory synchronisation, tree
// listing and the sync log.
#pragma once

#include <array>
#include <string>

#include "engine/host.h"
#include "platform/platform.h"

namespace qm::engine {

class Engine {
public:
    explicit Engine(Host& host);

    // Module-level values shared by the steps of a run.
    std::string SourcePath, TargetPath;
    std::string SourceRoot, TargetRoot;
    std::string SourceListName, TargetListName;
    bool ListingActive = false;
    int BatchCursor = 0;
    std::array<std::string, 3> CursorEntryLines;

    void RunBatch();
    bool NextBatchEntry();
    void RunBatchEntry();
    void SyncDirectory(bool Nested);
    void ListDirectoryTree(const std::string& Root);
    void ListDirectoryLevel(const std::string& Path);
    void WriteSyncLog(const std::string& Text);

    // A batch run is in progress.
    bool running() const { return running_; }

private:
    Host& host_;
    bool running_ = false;
};

}  // namespace qm::engine
