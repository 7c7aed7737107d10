// The replication engine: batch run, directory synchronisation, tree
// listing and the sync log.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

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
    std::string listDirectory();
    std::string stamp();
    void logFailure(const std::string& what);
    void yieldNow();
    void yieldIfDue();
    bool copyOne(const std::string& name);
    void deleteMoved(const std::string& name, const os::FileInfo& copied);
    void removeLeftovers();
    void walk();
    bool pointPickers(const std::string& source, const std::string& target);
    void removeListFiles();

    Host& host_;
    bool running_ = false;
    os::Random random_;
    bool lastDurable_ = false;
    std::optional<os::Error> listFailed_;
    std::vector<std::string> madeLists_;
    std::optional<os::FileId> excludeId_;
    std::chrono::steady_clock::time_point lastYield_{};
};

}  // namespace qm::engine
