// The batch run: every entry in file order, each through SyncDirectory,
// with the window busy for the whole run.
#include "batch/store.h"
#include "engine/engine.h"

namespace qm::engine {

void Engine::RunBatch() {
    if (running_) return;
    // Running from the first step to the last, however the run ends: ticks
    // are ignored meanwhile.
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(running_);
    // Volumes may have been changed since the last run.
    volumeRules_.clear();
    copiedInRun_ = 0;
    probeFailed_ = false;
    ruleDir_.clear();
    holdListDirectory();
    lastYield_ = std::chrono::steady_clock::now();
    // A run killed before this one may have cut its last log line: it is
    // ended now, even if this run has nothing to log.
    logTailDue_ = true;
    if (host_.checked(Option::log)) endCutLogLine();

    store_.ClearList();
    // The first entry as the repair left it, which the pickers now show.
    store_.CheckBatchFile();
    const auto first = store_.firstEntry();
    subs_ = store_.firstSubs();
    const os::Error why = store_.checkFailure().value_or(
        os::make_error(os::Errc::other, "read", store_.batchPath(), "it names no entry"));
    store_.ListBatch();
    host_.showBusy(Busy::run, true);
    if (first)
        syncEntry({first->first, first->second});
    else
        logFailure(Outcome::notReplicated, why.path,
                   "the first entry of the batch was not replicated: " + why.message(),
                   why.message());
    while (!host_.ending() && NextBatchEntry()) RunBatchEntry();
    if (!host_.ending()) {
        // Only what the window shows: an entry that could not be opened
        // leaves its trees elsewhere, and the run has logged it.
        showPair({SourceRoot, TargetRoot});
        host_.showBusy(Busy::run, false);
    }
    removeListFiles();
    if (!host_.ending()) tellDeadLog();
}

bool Engine::NextBatchEntry() {
    auto& os = os::current();
    ++BatchCursor;
    const std::string& dir = store_.programDir();
    const std::string ini = os::join(dir, batch::kFileName);
    const std::string dat = os::join(dir, batch::kSnapshotName);
    auto content = os.read_file(ini);
    if (!content) {
        logFailure(Outcome::runEnded, content.error().path,
                   "the batch run ends early: " + content.error().message(),
                   content.error().message());
        return false;
    }
    if (auto w = os.write_file(dat, *content, false); !w) {
        logFailure(Outcome::runEnded, w.error().path,
                   "the batch run ends early: " + w.error().message(), w.error().message());
        return false;
    }
    auto snap = os.read_file(dat);
    if (!snap) {
        logFailure(Outcome::runEnded, snap.error().path,
                   "the batch run ends early: " + snap.error().message(), snap.error().message());
        return false;
    }
    // The header, then three lines an entry.
    const auto lines = batch::split_lines(os::text_from_file(*snap));
    int k = 0;
    for (std::size_t i = 1; i + 3 <= lines.size(); i += 3) {
        if (++k == BatchCursor + 1) {
            CursorEntryLines = {lines[i], lines[i + 1], lines[i + 2]};
            return true;
        }
    }
    return false;
}

void Engine::RunBatchEntry() {
    const std::string source = batch::path_of(CursorEntryLines[0]);
    const std::string target = batch::path_of(CursorEntryLines[1]);
    subs_ = batch::subs_of(CursorEntryLines[2]);
    showPair({source, target});
    // The pair itself is replicated, whatever the trees could open; one
    // that cannot be opened is skipped and logged there.
    syncEntry({source, target});
    const std::string dat = os::join(store_.programDir(), batch::kSnapshotName);
    if (auto d = os::current().remove_file(dat); !d && d.error().code != os::Errc::not_found)
        logFailure(Outcome::notRemoved, dat, dat + ": not removed: " + d.error().message(),
                   d.error().message());
}

void Engine::showPair(const Pair& pair) {
    host_.showFiles(Side::source, DirRead::at(pair.source));
    host_.showFiles(Side::target, DirRead::at(pair.target));
    // The drive before the tree: selecting another drive opens its root.
    host_.showDrives(pair);
    showTreeAt(Side::source, pair.source);
    showTreeAt(Side::target, pair.target);
}

void Engine::showTreeAt(Side side, const std::string& path) {
    auto listing = os::current().list_dir(path);
    if (!listing) return;
    std::vector<std::string> subdirectories;
    for (auto& e : *listing)
        if (shown_as_subdirectory(e)) subdirectories.push_back(std::move(e.name));
    host_.showTree(side, path, subdirectories);
}

void Engine::removeListFiles() {
    // Only the files this run made: the directory may be the shared temp
    // directory, where another instance keeps its own lists.
    auto& os = os::current();
    for (const auto& f : madeLists_)
        if (auto d = os.remove_file(f); !d && d.error().code != os::Errc::not_found)
            logFailure(Outcome::notRemoved, f,
                       f + ": directory list not removed: " + d.error().message(),
                       d.error().message());
    madeLists_.clear();
    listHold_.reset();
    listDir_.clear();
}

void Engine::holdListDirectory() {
    auto& os = os::current();
    // In $winbootdir, another program's files may look like lists: only
    // the run's own are ever removed there.
    if (auto w = os.env("winbootdir"); w && !w->empty()) return;
    auto dir = os.own_temp_dir();
    if (!dir) return;  // each entry says why it is not replicated
    const std::string lock = os::join(*dir, "run.lock");
    auto alone = os.lock_file(lock, true, false);
    if (!alone) {
        logFailure(Outcome::notRemoved, *dir,
                   *dir + ": leftover list files not removed: " + alone.error().message(),
                   alone.error().message());
    } else if (*alone) {
        // No other run is going: every list here is a leftover.
        if (auto entries = os.list_dir(*dir); !entries) {
            logFailure(Outcome::notRemoved, *dir,
                       *dir + ": leftover list files not removed: " + entries.error().message(),
                       entries.error().message());
        } else {
            for (const auto& e : *entries) {
                if (e.kind != os::Kind::file || !detail::is_list_file_name(e.name)) continue;
                if (auto d = os.remove_file(os::join(*dir, e.name)); !d)
                    logFailure(Outcome::notRemoved, os::join(*dir, e.name),
                               os::join(*dir, e.name) + ": not removed: " + d.error().message(),
                               d.error().message());
            }
        }
        alone->reset();
    }
    // Shared with other runs; keeps them from removing this run's lists.
    if (auto held = os.lock_file(lock, false, true); held)
        listHold_ = std::move(*held);
    else
        logFailure(Outcome::other, lock,
                   lock + ": not locked, this run's lists may be taken for leftovers: " +
                       held.error().message(),
                   held.error().message());
}

}  // namespace qm::engine
