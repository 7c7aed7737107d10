// The replication engine: batch run, directory synchronisation, tree
// listing and the sync log. It takes its entries from the batch store,
// reads their directories itself and hands the window (Host) what it read
// to show; it takes its options from the window at the moment of use and
// reaches the operating system only through qm::os.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/failure.h"
#include "engine/host.h"
#include "engine/names.h"
#include "engine/reader.h"
#include "platform/platform.h"

namespace qm::batch {
class Store;
}

namespace qm::engine {

class CallPool;

struct FileIdHash {
    std::size_t operator()(const os::FileId& id) const {
        return std::hash<std::uint64_t>()(id.index * 0x9E3779B97F4A7C15ULL ^ id.volume);
    }
};

class Engine {
public:
    // The batch file is the store's: the run repairs, lists and reads it
    // there, the store showing it in the window.
    Engine(Host& host, batch::Store& store);
    ~Engine();

    // Program-wide values shared by the steps of a run.
    std::string SourcePath, TargetPath;
    std::string SourceRoot, TargetRoot;
    std::string SourceListName, TargetListName;
    bool ListingActive = false;
    int BatchCursor = 0;
    std::array<std::string, 3> CursorEntryLines;

    // -- batch run (run.cpp)
    void RunBatch();
    bool NextBatchEntry();
    void RunBatchEntry();
    // -- one directory pair (sync.cpp)
    // Replicates the pair last handed over: the entry's at top level, the
    // walk's for a nested call.
    void SyncDirectory(bool Nested);
    // -- tree listing (listing.cpp)
    void ListDirectoryTree(const std::string& Root);
    void ListDirectoryLevel(const std::string& Path);
    // -- log (log.cpp)
    void WriteSyncLog(const std::string& Text);

    // Each failure goes to the log, when it is on, and to every sink added
    // here, whether the log is on or not.
    void addFailureSink(FailureSink* sink) { sinks_.push_back(sink); }
    // The files the last (or current) batch run copied or moved.
    int copiedInRun() const { return copiedInRun_; }

    // How many copies are made at once: several where the target volume
    // answers each call late, one elsewhere, where they would only wait on
    // each other. Set, it holds for every volume.
    void setCopiesInFlight(std::optional<int> n) { forcedInFlight_ = n; }

    // A batch run is in progress, from its first step to its last.
    bool running() const { return running_; }
    // Where the directory list files go: $winbootdir when set and not
    // empty, else the program's own private directory inside the system's
    // temporary directory (made when absent).
    static os::Result<std::string> listDirectory();

private:
    // log.cpp
    std::string stamp();
    // Hands a failure to the sinks; the log's line is the stamp, then text.
    // reason: the system's own, when there is one.
    void logFailure(Outcome outcome, const std::string& path, const std::string& text,
                    const std::string& reason = {});
    // What a copy that failed leaves undone: in move mode the file stays.
    Outcome copyFailed();

    // Yields through the window and notes when; *IfDue only when the last
    // yield is long enough ago.
    void yieldNow();
    void yieldIfDue();

    // sync.cpp
    // Hands the pair to the top-level call and makes it.
    void syncEntry(const Pair& pair);
    // Why a drive of the pair is not ready, if one is not.
    std::optional<os::Error> driveNotReady(const Pair& pair);
    bool beginTopLevel();
    void syncFiles();
    // Copies made, by identity: read by copies on other threads while the
    // walk adds the ones it takes.
    struct MadeHere {
        bool holds(const os::FileId& id) const {
            std::lock_guard lock(m);
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        }
        void add(const os::FileId& id) {
            std::lock_guard lock(m);
            ids.push_back(id);
        }
        bool empty() const {
            std::lock_guard lock(m);
            return ids.empty();
        }
        void clear() {
            std::lock_guard lock(m);
            ids.clear();
        }
        mutable std::mutex m;
        std::vector<os::FileId> ids;
    };
    // One copy to make, all decided before it is handed to a thread.
    struct CopyJob {
        std::string name, src, dst;  // dst: the path of the copy
        os::OpenDir from, to;        // the pair's directories, held by the copy
        std::uint64_t size = 0;
        bool replacing = false;  // the target has a file of that name
        bool folds = false;      // the target takes names differing in case for one
        // Where names fold, a copy this pair made may stand under the name.
        const MadeHere* madeHere = nullptr;
        bool durable = false;  // flushed by itself: its source is to go
        Outcome failed = Outcome::notCopied;
        std::array<std::string, 4> tmpNames;  // tried in turn while taken
    };
    // What a copy did, for the walk to take in its own order.
    struct CopyDone {
        std::optional<os::FileState> copied;  // the version of the source copied
        os::FileId made;                      // the copy
        struct Note {
            Failure failure;
            bool always = false;  // logged also when the program is ending
        };
        std::vector<Note> notes;
    };
    // Prepares the copy of one file of the pair; none when the pair's
    // directories cannot be opened (logged).
    std::optional<CopyJob> copyJob(const std::string& name, std::uint64_t size, bool replacing,
                                   bool folds);
    // Makes the copy: only calls on the pair's open directories, so that
    // several can run at once on other threads.
    CopyDone makeCopy(const CopyJob& job, const os::CopyProgress& progress) const;
    // Logs what the copy found and notes it for the flush; the version of
    // the source copied, when it was.
    std::optional<os::FileState> takeCopy(const CopyJob& job, CopyDone& done);
    // The copies to have in flight at once for the target of the pair.
    int copiesInFlight();
    // A copy in flight, or a step held back until the copies before it are
    // taken (a log line, a directory's count): what the run tells comes in
    // the walk's order, though the copies of a directory may still be
    // going on while the walk reads the next.
    struct InFlight {
        CopyJob job;
        std::future<CopyDone> done;
        std::shared_ptr<int> count;  // its directory's copies taken
        std::function<void()> then;  // set: a step, not a copy
    };
    // Takes the oldest copy in flight, waiting for it, or runs the oldest
    // step; then what follows a copy (a move's delete, a flush).
    void settleOldest();
    // Takes every one; the program's end cancels those still going.
    void settleAll();
    // Runs step once the copies in flight before it are taken.
    void inOrder(std::function<void()> step);
    // Opens the pair's directories for its copies, once; false (logged for
    // name) when they cannot be opened.
    bool openPair(const std::string& name);
    // The directory path (SourcePath, TargetPath or one below the roots)
    // opened from its side's root without following a link below it.
    os::Result<os::OpenDir> openBelowRoot(Side side, const std::string& path);
    // Whether a target file's time is the one its volume stores for the
    // source's: the same second, or, on a volume that cannot store that
    // second, the one it rounds it to.
    bool sameTime(const os::FileTime& source, const os::FileTime& target);
    // How the volume of dir stores times and whether it folds case, learnt
    // once a run by storing a few times in a probe file there and reading
    // them back, and by looking the probe up in other capitals.
    // known: the directory's identity, when the caller has looked it up.
    detail::VolumeRule volumeRule(const std::string& dir,
                                  const std::optional<os::FileId>& known = std::nullopt);
    // listing.cpp
    // Appends the lines held to the source list; false, with listFailed_
    // set and the listing stopped, when that fails.
    bool writeListBuffer();
    // The list file of this name, in the directory of the lists.
    std::string listPath(const std::string& name);
    // Takes the run's hold on the program's own list directory and, when
    // no other run holds it, removes the lists a run that was cut short
    // left there.
    void holdListDirectory();
    // Flushes the copies not yet flushed, with their directory entries,
    // after any flush still going on behind the copying, and the entries of
    // the directories the run has created into their parents.
    std::optional<os::Error> flushCopies();
    void flushOrLog();
    // Hands the copies not yet flushed to a flush that goes on while the
    // next ones are copied.
    void flushBehind();
    // Waits for the flush going on behind, if any, and logs its failure.
    void awaitFlushBehind();
    // The copies not yet flushed, now handed to a flush.
    std::vector<std::string> takeUnflushed();
    // Yields when due while a file list is read; false once the program ends.
    std::function<bool()> betweenEntries();
    // Reads the pair's directories for their files, the source here while
    // the target is read on a thread, each from its read ahead when the
    // walk named it; and shows them.
    void readPair(const std::string& source, const std::string& target);
    // Reads the target's files again, and shows them.
    void rereadTarget();
    const DirRead& dirRead(Side side) const { return read_[side == Side::source ? 0 : 1]; }
    // copied: the version of the source copied; made: the copy.
    void deleteMoved(const CopyJob& job, const os::FileState& copied, const os::FileId& made);
    bool removeLeftovers();
    // Removes a temporary copy of ours; one that stays is noted.
    static void removeTemporary(const os::OpenDir& dir, const std::string& name, CopyDone& done);
    void walk();
    // Makes the target list (TargetListName) from the source list.
    bool makeTargetList(const std::string& sourceList);
    void pointAt(const std::string& source, const std::string& target);
    // On a target that folds case, the entry that path names when its last
    // name is spelt otherwise there.
    os::Result<std::optional<std::string>> spelledOtherwise(const std::string& path);
    // Shows the pair in both trees where the file lists have just read.
    void showTreesAtFileLists();
    // A tree opened at path, read here; one that cannot be read is left
    // where it was.
    void showTreeAt(Side side, const std::string& path);

    // run.cpp
    // Points the pickers at a pair, for the window to show; a tree that
    // cannot open its directory shows another, which the run never reads.
    void showPair(const Pair& pair);
    void removeListFiles();
    // Tells once, in a box, that the log cannot be written.
    void tellDeadLog();
    std::string logPath() const;
    bool logLineCut();
    void endCutLogLine();

    Host& host_;
    batch::Store& store_;
    // The Subs line of the entry being run.
    std::string subs_;
    // syncfile.log as a sink: a line for each failure while the log is on.
    class LogSink : public FailureSink {
    public:
        explicit LogSink(Engine& e) : e_(e) {}
        void failed(const Failure& failure) override;

    private:
        Engine& e_;
    };
    LogSink logSink_{*this};
    std::vector<FailureSink*> sinks_{&logSink_};
    int copiedInRun_ = 0;
    // A volume probe that failed, named in the log once a run.
    bool probeFailed_ = false;
    bool running_ = false;
    // The pair the next SyncDirectory call replicates. Only these
    // directories and their subdirectories are ever read or written: the
    // pickers may show another pair when one could not be opened.
    Pair pair_;
    os::Random random_;
    // Copies renamed into place and not yet flushed (paths, in any
    // directory of the entry), and the bytes not flushed with them; flushed
    // together once either limit is reached, before a delete and at the end
    // of the entry.
    std::vector<std::string> unflushed_;
    // The pair's directories, held open while its files are copied.
    os::OpenDir sourceDir_, targetDir_;
    // The entry's roots, opened when first needed; every directory of the
    // entry is opened from them without following a link.
    os::OpenDir sourceRootDir_, targetRootDir_;
    // The copies this pair wrote: on a volume that folds case, a name that
    // leads to one of them came from another source name.
    MadeHere madeHere_;
    // Copies made on other threads, for a slow target; made when first
    // needed. Asked to stop early (the program ends) by cancelCopies_.
    std::unique_ptr<CallPool> pool_;
    std::atomic<bool> cancelCopies_{false};
    std::deque<InFlight> inFlight_;
    int settling_ = 0;  // within settleOldest: told at once, in its turn
    std::optional<int> forcedInFlight_;
    static constexpr int kInFlight = 8;
    // Copies handed to the threads ahead of them, per thread, while the
    // walk goes on to the next directories.
    static constexpr int kQueuedPerThread = 32;
    std::uint64_t dirsWalked_ = 0;  // the group of a directory's copies
    // A volume whose quickest answer takes this long is slow.
    static constexpr std::chrono::microseconds kSlowCall{250};
    std::uint64_t unflushedBytes_ = 0;
    // Directories the entry created whose own entries in their parents are
    // not yet on disk: a moved file would go with them at a power cut.
    std::vector<std::string> createdDirs_;
    static constexpr std::size_t kFlushFiles = 1000;
    static constexpr std::uint64_t kFlushBytes = 256u << 20;
    // The flush going on behind, on its own thread; it never outlives its
    // entry, and flushes never overlap each other.
    std::future<os::Status> flushing_;
    // The walk has set the drive selectors to the roots' drives.
    bool drivesSet_ = false;
    // Why the walk's current pair could not be opened; its subtree is then
    // skipped.
    std::optional<os::Error> pairUnreadable_;
    // The list file could not be written during the current listing.
    std::optional<os::Error> listFailed_;
    // Lines of the source list not yet written to its file.
    std::string listBuffer_;
    static constexpr std::size_t kListBlock = 64 * 1024;
    // Pairs of the walk named to be read ahead: enough that the readers
    // keep going while the window draws.
    static constexpr std::size_t kReadAhead = 16;
    // What the last reads of the pair's directories found: source, target.
    // Held here, so that a list shown meanwhile changes nothing of them.
    DirRead read_[2];
    // The target root, left out of the source's listing.
    std::optional<os::FileId> excludeId_;
    // The source directories of the entry as listed, its root among them:
    // a target directory that is one of them is never written.
    std::unordered_set<os::FileId, FileIdHash> sourceDirIds_;
    // The target directories the walk has replicated into: a second source
    // directory that comes to one of them (its name folded, say) would
    // overwrite the first one's copies.
    std::unordered_set<os::FileId, FileIdHash> walkTargetIds_;
    // The list files this run made, removed at its end.
    std::vector<std::string> madeLists_;
    // The directory of the list files of the current top-level call, and
    // its identity once looked up.
    std::string listDir_;
    std::optional<os::Result<os::FileId>> listDirId_;
    // Held for the whole run, so that no other run takes this run's list
    // files for leftovers.
    std::shared_ptr<void> listHold_;
    // Time rules learnt during this run, by volume.
    std::unordered_map<std::uint64_t, detail::VolumeRule> volumeRules_;
    std::string ruleDir_;  // the directory dirRule_ was last looked up for
    detail::VolumeRule dirRule_;
    std::chrono::steady_clock::time_point lastYield_{};
    // Why the log could not be written, until that is told; after that
    // nothing more is told until the log has been written again.
    std::optional<os::Error> logDead_;
    bool logDeadTold_ = false;
    // The log's last line is yet to be looked at for a cut (see endCutLogLine).
    bool logTailDue_ = true;
    // Reads the listing's levels and the walk's pairs ahead; last, so that
    // it is gone, its threads with it, before anything they might touch.
    Reader reader_;
};

}  // namespace qm::engine
