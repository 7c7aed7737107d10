// One directory pair: the files that differ are copied (or moved), and at
// top level the listed subdirectory tree is walked.
//
// A copy never shows under the target's name before it is complete: it is
// written to a temporary file in the target directory, given the source's
// time, and renamed over the target. Copies whose sources stay are flushed
// to disk together, every thousand files or 256 MiB and at the end of the
// entry. A source is deleted in move mode only once its copy is on disk and
// checked, and only if it did not change meanwhile.
#include <algorithm>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/names.h"
#include "engine/pool.h"

namespace qm::engine {

using detail::is_list_file_name;
using detail::is_temp_name;

void Engine::SyncDirectory(bool Nested) {
    random_.seed_from_time_of_day();
    // The pair handed over, never what the pickers happen to show: a tree
    // that could not open a directory still shows the one before, or the
    // root of its drive.
    const Pair pair = pair_;
    SourcePath = os::with_separator(pair.source);
    TargetPath = os::with_separator(pair.target);
    std::optional<os::Error> why;
    if (!Nested) why = driveNotReady(pair);
    if (!why) {
        readPair(pair.source, pair.target);
        if (host_.ending()) return;
        for (const DirRead& read : read_)
            if (!why && read.error) why = read.error;
    }
    if (why) {
        // Neither the listing nor the walk starts; the walk logs a nested
        // pair together with its subtree.
        if (Nested) {
            pairUnreadable_ = std::move(why);
        } else {
            TargetRoot = TargetPath;
            SourceRoot = SourcePath;
            logFailure(Outcome::notReplicated, SourcePath,
                       SourcePath + ": not replicated: " + why->message(), why->message());
        }
        return;
    }
    // The walk shows the pair in the trees where the file lists have read.
    if (Nested) showTreesAtFileLists();
    host_.setSubsChecked(subs_ != "NO");

    if (!Nested && !beginTopLevel()) return;
    syncFiles();
    const bool ended = host_.ending();
    if (!ended && !Nested && host_.checked(Option::subs)) walk();
    // The entry's copies reach the disk before it ends, also when the
    // program is ending.
    if (!Nested) {
        settleAll();
        flushOrLog();
        // Tried for the whole entry; one that still fails has been logged.
        createdDirs_.clear();
        sourceRootDir_ = targetRootDir_ = {};
    }
    if (ended) return;
    host_.showProgress({});
}

void Engine::syncEntry(const Pair& pair) {
    pair_ = pair;
    SyncDirectory(false);
}

// A drive that is not ready may still answer from a cache; the drive
// selectors would not open it, and neither does a run. Nor does it
// replicate onto the empty directory a volume is mounted on when the
// volume is not there: the copies would fill the disk below it.
std::optional<os::Error> Engine::driveNotReady(const Pair& pair) {
    auto& os = os::current();
    for (const std::string* path : {&pair.source, &pair.target}) {
        const std::string volume = os.volume_of(*path);
        if (!os.volume_ready(volume))
            return os::make_error(os::Errc::io, "open drive", *path,
                                  "the drive " + volume + " is not ready");
        if (!os.volume_mounted(*path))
            return os::make_error(os::Errc::io, "open drive", *path,
                                  "its volume is not there (not mounted, or unplugged)");
    }
    return std::nullopt;
}

std::function<bool()> Engine::betweenEntries() {
    return [this] {
        yieldIfDue();
        return !host_.ending();
    };
}

// Each side's reads wait on the disk or walk the kernel's caches on their
// own. The walk names the pairs it will come to, whose directories are then
// read on the reader's threads while this thread handles the pairs before
// them. A pair not named ahead has its target read on a thread while its
// source is read here.
void Engine::readPair(const std::string& source, const std::string& target) {
    const auto between = betweenEntries();
    bool stopped = false;
    auto paced = [&] {
        if (!stopped && !between()) stopped = true;
        return !stopped;
    };
    // Unread for an empty path, as the lists show none.
    auto readHere = [&](const std::string& path, Reader::Lane lane) {
        if (path.empty()) return DirRead::at(path);
        return make_dir_read(path, reader_.take(lane, path, paced), paced);
    };
    if (target.empty()) {
        // Nothing read ahead outlives a read that does not use it.
        reader_.forget();
    } else if (!reader_.queued(Reader::Lane::target, target)) {
        reader_.start(Reader::Lane::target, target);
    }
    read_[0] = readHere(source, Reader::Lane::source);
    host_.showFiles(Side::source, read_[0]);
    read_[1] = readHere(target, Reader::Lane::target);
    host_.showFiles(Side::target, read_[1]);
}

void Engine::rereadTarget() {
    const auto between = betweenEntries();
    const std::string path = read_[1].path;
    read_[1] = path.empty()
                   ? DirRead::at(path)
                   : make_dir_read(path, os::current().list_dir_detailed(path, between), between);
    host_.showFiles(Side::target, read_[1]);
}

// Steps of a top-level call before the files: the overlap check, the list
// names, the source list, the pause. False when the entry stops here.
bool Engine::beginTopLevel() {
    auto& os = os::current();
    listFailed_.reset();
    excludeId_.reset();
    auto stop = [&](const std::string& why, const std::string& reason = {}) {
        TargetRoot = TargetPath;
        SourceRoot = SourcePath;
        logFailure(Outcome::notReplicated, SourcePath, why, reason);
        return false;
    };
    // The entry's directories are opened here and held to its end: every
    // directory below them is opened from them. A volume pulled out from
    // under a target then fails what is written, instead of its empty
    // mount point taking the copies; its presence is checked once they
    // are open.
    sourceRootDir_ = targetRootDir_ = {};
    auto sdir = os.open_dir(SourcePath);
    if (!sdir)
        return stop(SourcePath + ": not replicated: " + sdir.error().message(),
                    sdir.error().message());
    auto tdir = os.open_dir(TargetPath);
    if (!tdir)
        return stop(SourcePath + ": not replicated: " + tdir.error().message(),
                    tdir.error().message());
    if (auto why = driveNotReady(pair_))
        return stop(SourcePath + ": not replicated: " + why->message(), why->message());
    auto sid = os.file_state_in(*sdir, ".");
    if (!sid)
        return stop(SourcePath + ": not replicated: " + sid.error().message(),
                    sid.error().message());
    auto tid = os.file_state_in(*tdir, ".");
    if (!tid)
        return stop(SourcePath + ": not replicated: " + tid.error().message(),
                    tid.error().message());
    if (sid->id == tid->id)
        return stop(SourcePath + ": not replicated, the target " + TargetPath +
                    " is the same directory");
    sourceRootDir_ = std::move(*sdir);
    targetRootDir_ = std::move(*tdir);
    excludeId_ = tid->id;
    sourceDirIds_ = {sid->id};
    walkTargetIds_ = {tid->id};

    auto dir = listDirectory();
    if (!dir)
        return stop(SourcePath + ": not replicated, the directory list could not be written: " +
                        dir.error().message(),
                    dir.error().message());
    listDir_ = *dir;
    listDirId_.reset();
    SourceListName = detail::make_list_file_name(random_);
    TargetListName = detail::make_list_file_name(random_);
    // Made afresh and private: a name that is taken (by another instance,
    // or planted) is never written through.
    os::Status made;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) SourceListName = detail::make_list_file_name(random_);
        made = os.create_private(listPath(SourceListName));
        if (made || made.error().code != os::Errc::exists) break;
    }
    if (!made)
        listFailed_ = made.error();
    else {
        madeLists_.push_back(listPath(SourceListName));
        ListDirectoryTree(SourcePath);
    }
    if (host_.ending()) return false;
    host_.pause(2000);
    TargetRoot = TargetPath;
    SourceRoot = SourcePath;
    if (listFailed_)
        return stop(SourcePath + ": not replicated, the directory list could not be written: " +
                        listFailed_->message(),
                    listFailed_->message());
    return true;
}

void Engine::syncFiles() {
    auto& os = os::current();
    if (host_.ending()) return;
    for (Side side : {Side::source, Side::target}) {
        if (const auto& e = dirRead(side).error) {
            logFailure(Outcome::notReplicated, (side == Side::source ? SourcePath : TargetPath),
                       (side == Side::source ? SourcePath : TargetPath) +
                           ": not replicated: " + e->message(),
                       e->message());
            return;
        }
    }
    // Another spelling of one directory (a bind mount below the target, a
    // link) would copy files onto themselves, and in move mode delete them.
    const auto sid = os.identity(SourcePath);
    if (!sid) {
        logFailure(Outcome::notReplicated, SourcePath,
                   SourcePath + ": not replicated: " + sid.error().message(),
                   sid.error().message());
        return;
    }
    const auto tid = os.identity(TargetPath);
    if (!tid) {
        logFailure(Outcome::notReplicated, SourcePath,
                   SourcePath + ": not replicated: " + tid.error().message(),
                   tid.error().message());
        return;
    }
    if (*sid == *tid) {
        logFailure(
            Outcome::notReplicated, SourcePath,
            SourcePath + ": not replicated, the target " + TargetPath + " is the same directory");
        return;
    }
    // The directories a copy opens are this pair's alone.
    struct Close {
        Engine& e;
        ~Close() {
            e.sourceDir_ = e.targetDir_ = {};
            e.madeHere_.clear();
        }
    } close{*this};
    if (removeLeftovers()) {
        rereadTarget();
        if (host_.ending()) return;
        if (const auto& e = read_[1].error) {
            logFailure(Outcome::notReplicated, TargetPath,
                       TargetPath + ": not replicated: " + e->message(), e->message());
            return;
        }
    }
    // Our list files are not the user's: never copy (or move) them.
    // When that cannot be told, names of list files are left alone.
    // The lists' directory stays for the whole entry: looked up once.
    if (!listDirId_) listDirId_ = os.identity(listDir_);
    const auto& lid = *listDirId_;
    const bool listsHere = !lid || *lid == *sid;
    if (!lid)
        logFailure(Outcome::notReplicated, SourcePath,
                   SourcePath + ": files named like directory lists not replicated: " +
                       lid.error().message(),
                   lid.error().message());

    // The lists as read, with each file's length and time from the same
    // read; held here, so that a reread meanwhile changes nothing of them.
    const auto source = read_[0].files;
    const auto target = read_[1].files;
    const FileListing& files = *source;
    const FileListing& targets = *target;
    // Both in listed_before order, so one pass through the target list finds
    // each name; a list in another order is looked up by a hash instead.
    auto sorted = [](const FileListing& l) {
        for (std::size_t i = 1; i < l.size(); ++i)
            if (listed_before(l.name(i), l.name(i - 1))) return false;
        return true;
    };
    const bool merge = sorted(files) && sorted(targets);
    std::unordered_map<std::string_view, std::size_t> index;
    if (!merge) {
        index.reserve(targets.size());
        for (std::size_t i = 0; i < targets.size(); ++i) index.emplace(targets.name(i), i);
    }
    std::size_t cursor = 0;
    // The target file of that name, if there is one. Names are unique in a
    // directory, and listed_before holds no two names equivalent.
    auto find = [&](const std::string& name) -> std::optional<std::size_t> {
        if (!merge) {
            auto t = index.find(name);
            return t == index.end() ? std::nullopt : std::optional(t->second);
        }
        while (cursor < targets.size() && listed_before(targets.name(cursor), name)) ++cursor;
        if (cursor < targets.size() && targets.name(cursor) == name) return cursor;
        return std::nullopt;
    };

    const int n = static_cast<int>(files.size());
    host_.showCounts(std::to_string(n) + " File(s)\r\n" + SourcePath,
                     std::to_string(targets.size()) + " File(s)\r\n" + TargetPath);
    const int max = n == 0 ? 1 : n;
    host_.showProgress({true, 0, max});

    // On a target that takes names differing in case for one, the first of
    // such names in list order is replicated, and the others are named in
    // the log: copied, they would overwrite it, and moved, be lost with it.
    // Learnt at the first name that is not up to date.
    std::optional<bool> folds;
    std::unordered_map<std::string, std::size_t> firstOfFold;
    std::unordered_map<std::string, std::size_t> targetOfFold;
    auto targetFolds = [&] {
        if (folds) return *folds;
        folds = volumeRule(TargetPath, *tid).folds;
        if (*folds) {
            for (std::size_t i = 0; i < files.size(); ++i)
                firstOfFold.try_emplace(detail::fold_case(files.name(i)), i);
            for (std::size_t j = 0; j < targets.size(); ++j)
                targetOfFold.try_emplace(detail::fold_case(targets.name(j)), j);
        }
        return *folds;
    };

    // The copies of this directory taken, for its line in the log.
    const auto count = std::make_shared<int>(0);
    cancelCopies_ = false;
    ++dirsWalked_;
    // Copy mode onto a volume that keeps names apart: nothing of what
    // follows a copy needs this pair's directories, so its copies may go
    // on while the walk reads the next pair.
    bool overlap = true;
    for (int i = 0; i < n && !host_.ending(); ++i) {
        host_.showProgress({true, i, max});
        const std::string& name = files.name(static_cast<std::size_t>(i));
        if (is_temp_name(name) || (listsHere && is_list_file_name(name))) continue;
        const FileStamp src = files.stamp(static_cast<std::size_t>(i));
        auto t = find(name);
        auto upToDate = [&](std::size_t at) {
            const FileStamp dst = targets.stamp(at);
            return dst.size == src.size && sameTime(src.mtime, dst.mtime);
        };
        if (t && upToDate(*t)) {
            yieldIfDue();
            continue;
        }
        if (targetFolds()) {
            const std::string key = detail::fold_case(name);
            if (const std::size_t first = firstOfFold.at(key);
                first != static_cast<std::size_t>(i)) {
                logFailure(Outcome::notReplicated, SourcePath + name,
                           SourcePath + name +
                               ": not replicated, on the target it would be the same file as " +
                               SourcePath + files.name(first));
                continue;
            }
            if (!t) {
                if (auto f = targetOfFold.find(key); f != targetOfFold.end()) {
                    // The same file on this volume: a copy replaces it and
                    // takes the source's spelling. Spelt otherwise, it may be
                    // the only copy of a source moved before under that
                    // spelling: a move never replaces it.
                    t = f->second;
                    if (host_.checked(Option::move)) {
                        logFailure(Outcome::notMoved, SourcePath + name,
                                   SourcePath + name + ": not moved, the target holds " +
                                       TargetPath + targets.name(*t) +
                                       ", another file of the same name in other capitals");
                        continue;
                    }
                }
            }
        }
        bool yes = true;
        if (host_.checked(Option::confirm)) {
            const bool move = host_.checked(Option::move);
            yes = host_.ask((move ? "Move file " : "Copy File ") + detail::trim_blanks(name) + "?");
            if (host_.ending()) break;
        }
        if (!yes && host_.checked(Option::confirm)) continue;
        auto job = copyJob(name, src.size, t.has_value(), folds.value_or(false));
        if (!job) {
            yieldNow();
            continue;
        }
        if (job->durable || job->folds) overlap = false;
        // Where names fold, a name the volume may take for another that
        // the list keeps apart is copied alone: its look for a copy made
        // from another name must see every copy before it.
        const bool alone = job->folds && !detail::plainly_apart(name);
        if (alone) settleAll();
        const int most = alone ? 1 : copiesInFlight();
        if (most <= 1) {
            settleAll();
            // The window stays responsive during a large copy; the
            // program's end cancels it, and the copy then removes its
            // temporary file.
            std::promise<CopyDone> made;
            made.set_value(makeCopy(*job, [this](std::uint64_t, std::uint64_t) {
                yieldIfDue();
                return !host_.ending();
            }));
            inFlight_.push_back({std::move(*job), made.get_future(), count, {}});
            settleOldest();
            continue;
        }
        if (!pool_) pool_ = std::make_unique<CallPool>(kInFlight);
        // Where the walk may go on to the next directories, it hands their
        // copies on too: the system creates and renames in one directory
        // at a time, so the threads spread over several.
        const int queued = overlap ? most * kQueuedPerThread : most;
        while (static_cast<int>(inFlight_.size()) >= queued) settleOldest();
        auto done = pool_->submit(
            [this, j = *job] {
                // Not begun when the program's end came: left undone.
                if (cancelCopies_) return CopyDone{};
                return makeCopy(j, [this](std::uint64_t, std::uint64_t) { return !cancelCopies_; });
            },
            dirsWalked_);
        inFlight_.push_back({std::move(*job), std::move(done), count, {}});
    }
    inOrder([this, count] {
        if (host_.ending()) return;
        copiedInRun_ += *count;
        if (host_.checked(Option::log) && *count != 0)
            WriteSyncLog(stamp() + " " + std::to_string(*count) + " files copied/moved");
    });
    if (!overlap || host_.ending()) settleAll();
}

void Engine::settleOldest() {
    InFlight oldest = std::move(inFlight_.front());
    inFlight_.pop_front();
    ++settling_;
    struct Done {
        int& n;
        ~Done() { --n; }
    } settled{settling_};
    if (oldest.then) return oldest.then();
    // At the program's end the copies going stop, and those waiting never
    // begin.
    if (host_.ending()) cancelCopies_ = true;
    while (oldest.done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        yieldIfDue();
        if (host_.ending()) cancelCopies_ = true;
    }
    CopyDone done = oldest.done.get();
    const auto copied = takeCopy(oldest.job, done);
    if (copied) ++*oldest.count;
    yieldNow();
    if (host_.ending()) return;
    if (copied && host_.checked(Option::move))
        deleteMoved(oldest.job, *copied, done.made);
    else if (unflushed_.size() >= kFlushFiles || unflushedBytes_ >= kFlushBytes)
        flushBehind();
}

void Engine::settleAll() {
    while (!inFlight_.empty()) settleOldest();
}

void Engine::inOrder(std::function<void()> step) {
    if (inFlight_.empty() || settling_ > 0) return step();
    inFlight_.push_back({{}, {}, {}, std::move(step)});
}

os::Result<os::OpenDir> Engine::openBelowRoot(Side side, const std::string& path) {
    auto& os = os::current();
    os::OpenDir& root = side == Side::source ? sourceRootDir_ : targetRootDir_;
    const std::string& rootPath = side == Side::source ? SourceRoot : TargetRoot;
    if (root.path.empty()) {
        // Not opened at the entry's start: as the entry names it.
        auto r = os.open_dir(rootPath);
        if (!r) return r;
        root = std::move(*r);
    }
    std::string rel = path.size() > rootPath.size() ? path.substr(rootPath.size()) : std::string();
    while (!rel.empty() && rel.back() == os::separator()) rel.pop_back();
    return os.open_dir_below(root, rel);
}

bool Engine::openPair(const std::string& name) {
    // Copies are made by name in the pair's directories, opened at its
    // first copy: a pair with nothing to copy opens nothing.
    if (!targetDir_.path.empty()) return true;
    auto from = openBelowRoot(Side::source, SourcePath);
    auto to = from ? openBelowRoot(Side::target, TargetPath) : std::move(from);
    if (!to) {
        logFailure(copyFailed(), SourcePath + name,
                   SourcePath + name + ": not copied: " + to.error().message(),
                   to.error().message());
        return false;
    }
    sourceDir_ = std::move(*from);
    targetDir_ = std::move(*to);
    return true;
}

std::optional<Engine::CopyJob> Engine::copyJob(const std::string& name, std::uint64_t size,
                                               bool replacing, bool folds) {
    if (!openPair(name)) return std::nullopt;
    CopyJob job;
    job.name = name;
    job.src = SourcePath + name;
    job.dst = TargetPath + name;
    job.folds = folds;
    job.from = sourceDir_;
    job.to = targetDir_;
    job.size = size;
    job.replacing = replacing;
    if (folds && !madeHere_.empty()) job.madeHere = &madeHere_;
    // A copy whose source is about to be deleted is flushed on its own; the
    // others are flushed a batch at a time, which costs far less.
    job.durable = host_.checked(Option::move);
    job.failed = copyFailed();
    for (auto& t : job.tmpNames) t = detail::make_temp_name(random_);
    return job;
}

Engine::CopyDone Engine::makeCopy(const CopyJob& job, const os::CopyProgress& progress) const {
    auto& os = os::current();
    const std::string& name = job.name;
    const std::string& src = job.src;
    const std::string& dst = job.dst;
    CopyDone done;
    auto fail = [&](Outcome outcome, const std::string& text, const std::string& reason = {}) {
        done.notes.push_back({{src, outcome, reason, text}, false});
        return std::move(done);
    };
    // A target the user made read-only stays as it is, whoever runs this;
    // so does one that cannot be looked at. Where names fold, the target
    // may hold the name in other capitals, and a copy this pair made from
    // another name must not be overwritten.
    if (job.replacing || job.madeHere) {
        auto t = os.stat_in(job.to, name);
        if (!t && t.error().code != os::Errc::not_found)
            return fail(job.failed,
                        src + ": not copied, its target " + dst +
                            " could not be checked: " + t.error().message(),
                        t.error().message());
        if (t && t->kind == os::Kind::file && t->read_only)
            return fail(job.failed, src + ": not copied, its target " + dst + " is read-only");
        if (t && job.madeHere)
            if (auto id = os.file_state_in(job.to, name); id && job.madeHere->holds(id->id))
                return fail(Outcome::notReplicated,
                            src + ": not replicated, its target " + dst +
                                " was copied from another name in this run");
    }
    std::string tmpName;
    os::Result<os::FileState> r;
    for (const auto& candidate : job.tmpNames) {
        tmpName = candidate;
        r = os.copy_file_in(job.from, name, job.to, tmpName, progress, job.durable, &done.made);
        if (r || r.error().code != os::Errc::exists) break;
    }
    if (!r) {
        // The copy removes its temporary file; one it could not is ours,
        // unless the name was taken to begin with.
        if (r.error().code != os::Errc::exists) removeTemporary(job.to, tmpName, done);
        // Gone, or no longer a plain file, since the directory was read.
        const bool changed = r.error().path == src && (r.error().code == os::Errc::not_found ||
                                                       r.error().code == os::Errc::invalid);
        // Changed while it was read: nothing was kept, and the next run
        // copies it again.
        return fail(changed ? Outcome::skipped : job.failed,
                    src + (changed ? ": skipped: " : ": not copied: ") + r.error().message(),
                    r.error().message());
    }
    if (auto m = os.rename_in(job.to, tmpName, name); !m) {
        done.notes.push_back(
            {{src, job.failed, m.error().message(), src + ": not copied: " + m.error().message()},
             false});
        removeTemporary(job.to, tmpName, done);
        return done;
    }
    done.copied = *r;
    return done;
}

std::optional<os::FileState> Engine::takeCopy(const CopyJob& job, CopyDone& done) {
    // A copy the program's end cut short is not a failure of the run; a
    // temporary file left behind is.
    const bool ending = host_.ending();
    for (const auto& note : done.notes)
        if (note.always || !ending)
            logFailure(note.failure.outcome, note.failure.path, note.failure.text,
                       note.failure.reason);
    if (!done.copied) return std::nullopt;
    if (job.folds) madeHere_.add(done.made);
    // Its directory entry, at least, is not on disk yet.
    unflushed_.push_back(job.dst);
    if (!job.durable) unflushedBytes_ += job.size;
    return done.copied;
}

// In the directory the copy was made in, also if its path has come to name
// another meanwhile.
void Engine::removeTemporary(const os::OpenDir& dir, const std::string& name, CopyDone& done) {
    if (auto d = os::current().remove_in(dir, name); !d && d.error().code != os::Errc::not_found)
        done.notes.push_back(
            {{dir.path + name, Outcome::notRemoved, d.error().message(),
              dir.path + name + ": temporary copy not removed: " + d.error().message()},
             true});
}

int Engine::copiesInFlight() {
    if (forcedInFlight_) return std::clamp(*forcedInFlight_, 1, kInFlight);
    return volumeRule(TargetPath).slow ? kInFlight : 1;
}

bool Engine::sameTime(const os::FileTime& source, const os::FileTime& target) {
    if (source.sec == target.sec) return true;
    // No volume rounds by more than two seconds; anything further is a
    // different time, and no probe is needed to say so.
    if (target.sec - source.sec > 2 || source.sec - target.sec > 2) return false;
    return detail::stored_second(volumeRule(TargetPath).time, source) == target.sec;
}

detail::VolumeRule Engine::volumeRule(const std::string& dir,
                                      const std::optional<os::FileId>& known) {
    auto& os = os::current();
    // Files of one directory come one after another: one look-up for all.
    if (dir == ruleDir_) return dirRule_;
    const auto id = known ? os::Result<os::FileId>(*known) : os.identity(dir);
    if (id) {
        if (auto r = volumeRules_.find(id->volume); r != volumeRules_.end()) {
            ruleDir_ = dir;
            dirRule_ = r->second;
            return dirRule_;
        }
    }
    // Stored and read back, as a copy's time is: a volume that cannot keep
    // a time shows here how it rounds it. Whatever fails leaves the rule
    // exact, which never takes two times for one, for the rest of this
    // directory: the probe is not tried again for each of its files. The
    // system's own habit stands for case then.
    detail::VolumeRule rule;
    rule.folds = os::case_insensitive_names();
    auto keep = [&](const detail::VolumeRule& r) {
        ruleDir_ = dir;
        dirRule_ = r;
        return r;
    };
    const std::string probeName = detail::make_temp_name(random_);
    const std::string probe = os::with_separator(dir) + probeName;
    // How long the volume takes to answer, from the probe's own calls: the
    // quickest of them, as a cache may answer one and a busy disk delay one.
    using Clock = std::chrono::steady_clock;
    auto quickest = Clock::duration::max();
    auto timed = [&](auto call) {
        const auto start = Clock::now();
        auto r = call();
        quickest = std::min(quickest, Clock::now() - start);
        return r;
    };
    if (auto made = timed([&] { return os.create_private(probe); }); !made) {
        // Not known: taken to fold, which keeps names apart that might
        // meet; times are compared exactly, so a copy may be made again.
        rule.folds = true;
        if (!probeFailed_) {
            probeFailed_ = true;
            logFailure(Outcome::other, dir,
                       dir + ": how the volume keeps names and times could not be learnt: " +
                           made.error().message(),
                       made.error().message());
        }
        return keep(rule);
    }
    // The probe's name holds letters; in other capitals it names the probe
    // only where the volume folds case.
    std::string upper = probeName;
    for (auto& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const auto other = timed([&] { return os.probe(os::with_separator(dir) + upper); });
    // Not known: taken to fold, which keeps names apart that might meet.
    rule.folds = !other || *other;
    std::vector<os::FileTime> stored;
    for (const auto& t : detail::probe_times()) {
        if (!timed([&] { return os.set_mtime(probe, t); })) break;
        auto st = timed([&] { return os.stat(probe); });
        if (!st) break;
        stored.push_back(st->mtime);
    }
    // A local disk answers from its cache in microseconds; a share's every
    // answer crosses the network.
    rule.slow = quickest >= kSlowCall;
    if (auto d = os.remove_file(probe); !d)
        logFailure(Outcome::notRemoved, probe, probe + ": not removed: " + d.error().message(),
                   d.error().message());
    const auto learnt = detail::infer_rule(stored);
    if (!learnt) return keep(rule);
    rule.time = *learnt;
    if (id) volumeRules_[id->volume] = rule;
    return keep(rule);
}

std::optional<os::Error> Engine::flushCopies() {
    auto& os = os::current();
    awaitFlushBehind();
    std::optional<os::Error> failed;
    // Tried once: a copy that cannot be flushed (gone, say) must not keep
    // the others from being flushed later. Its source is still there.
    if (!unflushed_.empty())
        if (auto f = os.flush_files(takeUnflushed()); !f) failed = f.error();
    if (!createdDirs_.empty()) {
        // A parent once however many directories were made in it.
        std::vector<std::string> parents;
        for (const auto& d : createdDirs_)
            if (auto p = os::parent_of(d);
                std::find(parents.begin(), parents.end(), p) == parents.end())
                parents.push_back(std::move(p));
        auto f = os::each_first_failure(parents,
                                        [&os](const std::string& p) { return os.flush_dir(p); });
        // Kept when it fails: no source below them is deleted meanwhile.
        if (f)
            createdDirs_.clear();
        else if (!failed)
            failed = f.error();
    }
    return failed;
}

void Engine::flushOrLog() {
    if (auto e = flushCopies())
        logFailure(Outcome::notFlushed, TargetRoot,
                   TargetRoot + ": not flushed to disk: " + e->message(), e->message());
}

// A flush mostly waits for the disk, which can as well happen while the
// next copies are made. The sources of these copies stay, so nothing
// waits for this flush but the next one and the end of the entry.
void Engine::flushBehind() {
    awaitFlushBehind();
    flushing_ = std::async(std::launch::async, [&os = os::current(), paths = takeUnflushed()] {
        return os.flush_files(paths);
    });
}

std::vector<std::string> Engine::takeUnflushed() {
    unflushedBytes_ = 0;
    return std::exchange(unflushed_, {});
}

void Engine::awaitFlushBehind() {
    if (!flushing_.valid()) return;
    if (auto f = flushing_.get(); !f)
        logFailure(Outcome::notFlushed, TargetRoot,
                   TargetRoot + ": not flushed to disk: " + f.error().message(),
                   f.error().message());
}

// Deletes the very file that was copied, and only while it is the version
// that was copied: a file put in its place meanwhile (renamed over it, say)
// or written to since stays.
void Engine::deleteMoved(const CopyJob& job, const os::FileState& copied, const os::FileId& made) {
    auto& os = os::current();
    const std::string& name = job.name;
    const std::string& src = job.src;
    const std::string& dst = job.dst;
    if (auto e = flushCopies()) {
        logFailure(Outcome::sourceKept, src,
                   src + ": kept, its copy may not be on disk yet: " + e->message(), e->message());
        return;
    }
    // By name in the directories the copy was made in: a link put in
    // place of one of them since is not followed.
    auto t = os.file_state_in(job.to, name);
    if (!t) {
        logFailure(Outcome::sourceKept, src,
                   src + ": kept, its copy could not be checked: " + t.error().message(),
                   t.error().message());
        return;
    }
    // The very file this copy made: another name of the source (on a
    // volume that folds case) or another program may have replaced it.
    if (t->id != made || t->size != copied.size || !sameTime(copied.mtime, t->mtime)) {
        logFailure(Outcome::sourceKept, src,
                   src + ": kept, its copy " + dst + " does not match it");
        return;
    }
    auto s = os.file_state_in(job.from, name);
    if (!s) {
        logFailure(Outcome::sourceKept, src,
                   src + ": kept, it could not be checked: " + s.error().message(),
                   s.error().message());
        return;
    }
    if (s->id == t->id) {
        logFailure(Outcome::sourceKept, src,
                   src + ": kept, it could not be told apart from its copy");
        return;
    }
    // The next run copies it again.
    if (s->id != copied.id) {
        logFailure(Outcome::sourceKept, src,
                   src + ": kept, it is another file than the one copied");
        return;
    }
    if (!(*s == copied)) {
        logFailure(Outcome::sourceKept, src, src + ": kept, it changed after it was copied");
        return;
    }
    // Checked again as it is removed: a write since the look above, or a
    // program that holds it open, keeps it.
    if (auto d = os.remove_unchanged(job.from, name, copied); !d) {
        if (d.error().code == os::Errc::changed)
            logFailure(Outcome::sourceKept, src, src + ": kept, it changed after it was copied");
        else if (d.error().code == os::Errc::busy)
            logFailure(Outcome::sourceKept, src, src + ": kept, it is open in another program");
        else
            logFailure(Outcome::sourceKept, src, src + ": not deleted: " + d.error().message(),
                       d.error().message());
    }
}

// The target list has just read the directory: its names, hidden or not,
// show what a run cut short left behind.
bool Engine::removeLeftovers() {
    auto& os = os::current();
    std::vector<std::string> stale;
    const auto listed = read_[1].files;
    for (const auto& n : read_[1].hidden)
        if (is_temp_name(n)) stale.push_back(n);
    for (std::size_t i = 0; i < listed->size(); ++i)
        if (is_temp_name(listed->name(i))) stale.push_back(listed->name(i));
    bool removed = false;
    for (const auto& n : stale) {
        auto d = os.remove_file(TargetPath + n);
        removed |= static_cast<bool>(d);
        if (!d && d.error().code != os::Errc::not_found)
            logFailure(Outcome::notRemoved, TargetPath + n,
                       TargetPath + n + ": temporary copy not removed: " + d.error().message(),
                       d.error().message());
    }
    return removed;
}

// -- the walk through the subdirectories ----------------------------------------

bool Engine::makeTargetList(const std::string& sourceList) {
    auto& os = os::current();
    auto fail = [&](const os::Error& e) {
        logFailure(Outcome::notReplicated, SourceRoot,
                   SourceRoot + ": subdirectories not replicated: " + e.message(), e.message());
        return false;
    };
    // Made afresh and private; a name that is taken is never written
    // through, a fresh one is drawn instead.
    std::string targetList;
    os::Status made;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) TargetListName = detail::make_list_file_name(random_);
        targetList = listPath(TargetListName);
        made = os.create_private(targetList);
        if (made || made.error().code != os::Errc::exists) break;
    }
    if (!made) return fail(made.error());
    madeLists_.push_back(targetList);
    // Each line less the root but for the root's final separator.
    const std::size_t cut = SourceRoot.size() - 1;
    detail::LineReader in(sourceList);
    std::string out;
    auto flush = [&]() -> bool {
        if (out.empty()) return true;
        auto a = os.append_file(targetList, out);
        out.clear();
        if (!a) return fail(a.error());
        return true;
    };
    while (auto line = in.next()) {
        out += (line->size() > cut ? line->substr(cut) : std::string()) + "\r\n";
        if (out.size() >= 64 * 1024 && !flush()) return false;
    }
    if (in.error()) return fail(*in.error());
    return flush();
}

void Engine::walk() {
    auto& os = os::current();
    if (!makeTargetList(listPath(SourceListName))) return;
    const std::string targetList = listPath(TargetListName);

    const char sep = os::separator();
    drivesSet_ = false;
    std::string skipped;  // a relative path whose whole subtree is skipped
    detail::LineReader lines(targetList);
    // Whatever ends the walk, nothing read ahead outlives it.
    struct Forget {
        Reader& reader;
        ~Forget() { reader.forget(); }
    } forget{reader_};
    // Lines taken ahead, so that their pairs can be read meanwhile.
    std::deque<std::string> ahead;
    auto fill = [&] {
        while (ahead.size() < kReadAhead) {
            auto next = lines.next();
            if (!next) return;
            if (next->size() >= 2) {
                reader_.want(Reader::Lane::source, {SourceRoot + next->substr(1)});
                reader_.want(Reader::Lane::target, {TargetRoot + next->substr(1)});
            }
            ahead.push_back(std::move(*next));
        }
    };
    for (fill(); !ahead.empty(); fill()) {
        const std::string line = std::move(ahead.front());
        ahead.pop_front();
        if (line.size() < 2) continue;
        const std::string rel = line.substr(1);
        if (!skipped.empty() && rel.size() > skipped.size() &&
            rel.compare(0, skipped.size(), skipped) == 0 && rel[skipped.size()] == sep)
            continue;
        const std::string S = SourceRoot + rel;
        const std::string T = TargetRoot + rel;
        auto skip = [&](const std::string& why, const std::string& reason = {},
                        Outcome outcome = Outcome::notReplicated) {
            logFailure(outcome, S, why + ", with everything below it", reason);
            skipped = rel;
        };
        if (auto ss = os.stat(S); !ss || ss->kind != os::Kind::dir) {
            const std::string reason = ss ? std::string() : ss.error().message();
            skip(S + ": skipped, " + (ss ? std::string("it is no longer a directory") : reason),
                 reason);
            continue;
        }
        bool made = false;
        if (auto ts = os.stat(T); !ts && ts.error().code == os::Errc::not_found) {
            // Made in its parent as opened from the target root: never
            // through a link put on the way. As open as the source
            // directory, never more.
            const auto cut = rel.find_last_of(sep);
            const std::string leaf = cut == std::string::npos ? rel : rel.substr(cut + 1);
            auto parent = openBelowRoot(Side::target, cut == std::string::npos
                                                          ? TargetRoot
                                                          : TargetRoot + rel.substr(0, cut));
            if (!parent) {
                skip(S + ": skipped, " + parent.error().message(), parent.error().message());
                continue;
            }
            if (auto m = os.make_dir_like_in(*parent, leaf, S); !m) {
                skip(S + ": skipped, " + m.error().message(), m.error().message());
                continue;
            }
            createdDirs_.push_back(T);
            made = true;
        } else if (!ts) {
            skip(S + ": skipped, " + ts.error().message(), ts.error().message());
            continue;
        } else if (ts->kind != os::Kind::dir) {
            skip(S + ": skipped, " + T + " is not a directory");
            continue;
        } else if (host_.checked(Option::move)) {
            // Another source directory's copies may be all there is of
            // them: a move never replaces them, nor moves where it cannot
            // tell.
            auto other = spelledOtherwise(T);
            if (!other) {
                const std::string reason = other.error().message();
                skip(S + ": not moved, the spelling of " + T + " could not be checked: " + reason,
                     reason, Outcome::notMoved);
                continue;
            }
            if (*other) {
                skip(S + ": not moved, the target holds " + **other +
                         ", another directory of the same name in other capitals",
                     {}, Outcome::notMoved);
                continue;
            }
        }
        // Where T truly is: a directory of the source (the source inside
        // its target, a bind mount) is never written, and neither is one
        // that another source directory has been replicated into (two
        // names folded into one). One just made is neither, whatever number
        // the system gave it (that of a source directory removed meanwhile,
        // say).
        if (auto tid = os.identity(T); !tid) {
            skip(S + ": skipped, " + tid.error().message(), tid.error().message());
            continue;
        } else if (!made && sourceDirIds_.contains(*tid)) {
            skip(S + ": skipped, its target " + T + " is a directory of the source");
            continue;
        } else if (!walkTargetIds_.insert(*tid).second) {
            skip(S + ": skipped, its target " + T +
                 " is also the target of another source directory");
            continue;
        }
        pointAt(S, T);
        yieldNow();
        if (host_.ending()) return;
        pairUnreadable_.reset();
        pair_ = {S, T};
        SyncDirectory(true);
        if (host_.ending()) return;
        if (pairUnreadable_) {
            logFailure(Outcome::notReplicated, S,
                       S + ": skipped, with everything below it: " + pairUnreadable_->message(),
                       pairUnreadable_->message());
            skipped = rel;
        }
    }
    if (lines.error())
        logFailure(Outcome::notReplicated, SourceRoot,
                   SourceRoot + ": subdirectories not all replicated: " + lines.error()->message(),
                   lines.error()->message());
}

// Where the target folds case and holds the last name of path spelt
// otherwise, that entry's path.
os::Result<std::optional<std::string>> Engine::spelledOtherwise(const std::string& path) {
    auto& os = os::current();
    const std::string parent = os::parent_of(path);
    if (!volumeRule(os::with_separator(parent)).folds) return std::nullopt;
    const std::string name = path.substr(os::with_separator(parent).size());
    const std::string key = detail::fold_case(name);
    auto listed = os.list_dir(parent);
    if (!listed) return std::unexpected(listed.error());
    for (const auto& e : *listed)
        if (e.name != name && detail::fold_case(e.name) == key) return os::join(parent, e.name);
    return std::nullopt;
}

// Points the file lists at one subdirectory pair; the trees follow once
// the lists have read. The drives stay those of the roots, which the
// selectors already show.
void Engine::pointAt(const std::string& source, const std::string& target) {
    host_.showFiles(Side::source, DirRead::at(source));
    host_.showFiles(Side::target, DirRead::at(target));
    // Selecting the drive already shown changes nothing, so once a walk is
    // enough; looking the drive up is not free.
    if (!drivesSet_) {
        host_.showDrives({SourceRoot, TargetRoot});
        drivesSet_ = true;
    }
}

void Engine::showTreesAtFileLists() {
    for (Side side : {Side::source, Side::target})
        if (const DirRead& read = dirRead(side); !read.error)
            host_.showTree(side, read.path, read.subdirectories);
}

}  // namespace qm::engine
