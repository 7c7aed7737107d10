// One directory pair: the files that differ are copied (or moved), and at
// top level the listed subdirectory tree is walked.
//
// A copy never shows under the target's name before it is complete: it is
// written to a temporary file in the target directory, given the source's
// time, and renamed over the target. Copies whose sources stay are flushed
// to disk together, every thousand files or 256 MiB and at the end of the
// entry. A source is deleted in move mode only once its copy is on disk and
// checked, and only if it did not change meanwhile.
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/names.h"

namespace qm::engine {

using detail::is_list_file_name;
using detail::is_temp_name;

void Engine::SyncDirectory(bool Nested) {
    random_.seed_from_time_of_day();
    host_.refreshFileLists(betweenEntries());
    if (host_.ending()) return;
    // The walk points the trees where the file lists have read.
    if (Nested && !openTreesAtFileLists()) return;
    SourcePath = os::with_separator(host_.treePath(Side::source));
    TargetPath = os::with_separator(host_.treePath(Side::target));
    host_.setSubsChecked(host_.subsValue() != "NO");

    if (!Nested && !beginTopLevel()) return;
    syncFiles();
    const bool ended = host_.ending();
    if (!ended && !Nested && host_.checked(Option::subs)) walk();
    // The entry's copies reach the disk before it ends, also when the
    // program is ending.
    if (!Nested) flushOrLog();
    if (ended) return;
    host_.setProgressVisible(false);
}

std::function<bool()> Engine::betweenEntries() {
    return [this] {
        yieldIfDue();
        return !host_.ending();
    };
}

// Steps of a top-level call before the files: the overlap check, the list
// names, the source list, the pause. False when the entry stops here.
bool Engine::beginTopLevel() {
    auto& os = os::current();
    listFailed_.reset();
    excludeId_.reset();
    auto stop = [&](const std::string& why) {
        TargetRoot = TargetPath;
        SourceRoot = SourcePath;
        logFailure(why);
        return false;
    };
    auto sid = os.identity(SourcePath);
    if (!sid) return stop(SourcePath + ": not replicated: " + sid.error().message());
    auto tid = os.identity(TargetPath);
    if (!tid) return stop(SourcePath + ": not replicated: " + tid.error().message());
    if (*sid == *tid)
        return stop(SourcePath + ": not replicated, the target " + TargetPath +
                    " is the same directory");
    excludeId_ = *tid;

    auto dir = listDirectory();
    if (!dir)
        return stop(SourcePath + ": not replicated, the directory list could not be written: " +
                    dir.error().message());
    listDir_ = *dir;
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
                    listFailed_->message());
    return true;
}

void Engine::syncFiles() {
    auto& os = os::current();
    if (host_.ending()) return;
    for (Side side : {Side::source, Side::target}) {
        if (const auto& e = host_.fileListError(side)) {
            logFailure((side == Side::source ? SourcePath : TargetPath) +
                       ": not replicated: " + e->message());
            return;
        }
    }
    // Another spelling of one directory (a bind mount below the target, a
    // link) would copy files onto themselves, and in move mode delete them.
    const auto sid = os.identity(SourcePath);
    if (auto tid = os.identity(TargetPath); sid && tid && *sid == *tid) {
        logFailure(SourcePath + ": not replicated, the target " + TargetPath +
                   " is the same directory");
        return;
    }
    if (removeLeftovers()) {
        host_.refreshFileList(Side::target, betweenEntries());
        if (host_.ending()) return;
        if (const auto& e = host_.fileListError(Side::target)) {
            logFailure(TargetPath + ": not replicated: " + e->message());
            return;
        }
    }
    // Our list files are not the user's: never copy (or move) them.
    const auto lid = os.identity(listDir_);
    const bool listsHere = lid && sid && *lid == *sid;

    // Snapshots, with each file's length and time from the same read.
    // Names are unique in a directory, so a hash lookup gives what a search
    // of the whole target list would.
    const std::vector<std::string> files = host_.fileNames(Side::source);
    const std::vector<os::FileInfo> infos = host_.fileInfos(Side::source);
    const std::vector<std::string> targets = host_.fileNames(Side::target);
    const std::vector<os::FileInfo> targetInfos = host_.fileInfos(Side::target);
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) index.emplace(targets[i], i);

    const int n = static_cast<int>(files.size());
    host_.setCountText(Side::source, std::to_string(n) + " File(s)\r\n" + SourcePath);
    host_.setCountText(Side::target,
                       std::to_string(targets.size()) + " File(s)\r\n" + TargetPath);
    host_.setProgressRange(0, n == 0 ? 1 : n);
    host_.setProgressVisible(true);

    int count = 0;
    for (int i = 0; i < n && !host_.ending(); ++i) {
        host_.setProgressValue(i);
        const std::string& name = files[static_cast<std::size_t>(i)];
        if (is_temp_name(name) || (listsHere && is_list_file_name(name))) continue;
        const os::FileInfo& src = infos[static_cast<std::size_t>(i)];
        if (auto t = index.find(name); t != index.end()) {
            const os::FileInfo& dst = targetInfos[t->second];
            if (dst.size == src.size && sameTime(src.mtime, dst.mtime)) {
                yieldIfDue();
                continue;
            }
        }
        bool yes = true;
        if (host_.checked(Option::confirm)) {
            const bool move = host_.checked(Option::move);
            yes = host_.ask((move ? "Move file " : "Copy File ") + detail::trim_blanks(name) + "?");
            if (host_.ending()) break;
        }
        if (!yes && host_.checked(Option::confirm)) continue;
        const bool copied = copyOne(name, src.size, index.contains(name));
        if (copied) ++count;
        yieldNow();
        if (host_.ending()) break;
        if (copied && host_.checked(Option::move))
            deleteMoved(name, src);
        else if (unflushed_.size() >= kFlushFiles || unflushedBytes_ >= kFlushBytes)
            flushBehind();
    }
    if (host_.ending()) return;

    if (host_.logEnabled() && count != 0)
        WriteSyncLog(stamp() + " " + std::to_string(count) + " files copied/moved");
}

bool Engine::copyOne(const std::string& name, std::uint64_t size, bool replacing) {
    auto& os = os::current();
    const std::string src = SourcePath + name;
    const std::string dst = TargetPath + name;
    // A target the user made read-only stays as it is, whoever runs this.
    if (replacing) {
        if (auto t = os.stat(dst); t && t->kind == os::Kind::file && t->read_only) {
            logFailure(src + ": not copied, its target " + dst + " is read-only");
            return false;
        }
    }
    // The window stays responsive during a large copy; the program's end
    // cancels it, and the copy then removes its temporary file.
    auto progress = [this](std::uint64_t, std::uint64_t) {
        yieldIfDue();
        return !host_.ending();
    };
    // A copy whose source is about to be deleted is flushed on its own; the
    // others are flushed a batch at a time, which costs far less.
    const bool durable = host_.checked(Option::move);
    std::string tmp;
    os::Status r;
    for (int attempt = 0; attempt < 4; ++attempt) {
        tmp = TargetPath + detail::make_temp_name(random_);
        r = os.copy_file(src, tmp, progress, durable);
        if (r || r.error().code != os::Errc::exists) break;
    }
    if (!r) {
        if (host_.ending()) return false;
        // Gone, or no longer a plain file, since the directory was read.
        const bool changed = r.error().path == src && (r.error().code == os::Errc::not_found ||
                                                        r.error().code == os::Errc::invalid);
        logFailure(src + (changed ? ": skipped: " : ": not copied: ") + r.error().message());
        return false;
    }
    if (auto m = os.rename_replace(tmp, dst); !m) {
        (void)os.remove_file(tmp);
        logFailure(src + ": not copied: " + m.error().message());
        return false;
    }
    // Its directory entry, at least, is not on disk yet.
    unflushed_.push_back(dst);
    if (!durable) unflushedBytes_ += size;
    return true;
}

bool Engine::sameTime(const os::FileTime& source, const os::FileTime& target) {
    if (source.sec == target.sec) return true;
    // No volume rounds by more than two seconds; anything further is a
    // different time, and no probe is needed to say so.
    if (target.sec - source.sec > 2 || source.sec - target.sec > 2) return false;
    return detail::stored_second(timeRule(TargetPath), source) == target.sec;
}

detail::TimeRule Engine::timeRule(const std::string& dir) {
    auto& os = os::current();
    // Files of one directory come one after another: one look-up for all.
    if (dir == ruleDir_) return dirRule_;
    const auto id = os.identity(dir);
    if (id) {
        if (auto r = timeRules_.find(id->volume); r != timeRules_.end()) {
            ruleDir_ = dir;
            dirRule_ = r->second;
            return dirRule_;
        }
    }
    // Stored and read back, as a copy's time is: a volume that cannot keep
    // a time shows here how it rounds it. Whatever fails leaves the rule
    // exact, which never takes two times for one.
    detail::TimeRule rule;
    const std::string probe = os::with_separator(dir) + detail::make_temp_name(random_);
    if (!os.create_private(probe)) return rule;
    std::vector<os::FileTime> stored;
    for (const auto& t : detail::probe_times()) {
        if (!os.set_mtime(probe, t)) break;
        auto st = os.stat(probe);
        if (!st) break;
        stored.push_back(st->mtime);
    }
    if (auto d = os.remove_file(probe); !d)
        logFailure(probe + ": not removed: " + d.error().message());
    const auto learnt = detail::infer_rule(stored);
    if (!learnt) return rule;
    if (id) {
        timeRules_[id->volume] = *learnt;
        ruleDir_ = dir;
        dirRule_ = *learnt;
    }
    return *learnt;
}

std::optional<os::Error> Engine::flushCopies() {
    awaitFlushBehind();
    if (unflushed_.empty()) return std::nullopt;
    // Tried once: a copy that cannot be flushed (gone, say) must not keep
    // the others from being flushed later. Its source is still there.
    if (auto f = os::current().flush_files(takeUnflushed()); !f) return f.error();
    return std::nullopt;
}

void Engine::flushOrLog() {
    if (auto e = flushCopies()) logFailure(TargetRoot + ": not flushed to disk: " + e->message());
}

// A flush mostly waits for the disk, which can as well happen while the
// next copies are made. The sources of these copies stay, so nothing
// waits for this flush but the next one and the end of the entry.
void Engine::flushBehind() {
    awaitFlushBehind();
    flushing_ = std::async(std::launch::async,
                           [&os = os::current(), paths = takeUnflushed()] { return os.flush_files(paths); });
}

std::vector<std::string> Engine::takeUnflushed() {
    unflushedBytes_ = 0;
    return std::exchange(unflushed_, {});
}

void Engine::awaitFlushBehind() {
    if (!flushing_.valid()) return;
    if (auto f = flushing_.get(); !f)
        logFailure(TargetRoot + ": not flushed to disk: " + f.error().message());
}

void Engine::deleteMoved(const std::string& name, const os::FileInfo& copied) {
    auto& os = os::current();
    const std::string src = SourcePath + name;
    const std::string dst = TargetPath + name;
    if (auto e = flushCopies()) {
        logFailure(src + ": kept, its copy may not be on disk yet: " + e->message());
        return;
    }
    auto t = os.stat(dst);
    if (!t || t->kind != os::Kind::file || t->size != copied.size ||
        !sameTime(copied.mtime, t->mtime)) {
        logFailure(src + ": kept, its copy " + dst + " does not match it" +
                   (t ? std::string() : ": " + t.error().message()));
        return;
    }
    auto sid = os.identity(src);
    auto tid = os.identity(dst);
    if (!sid || !tid || *sid == *tid) {
        logFailure(src + ": kept, it could not be told apart from its copy");
        return;
    }
    // Changed since it was copied: kept, and the next run copies it again.
    auto s = os.stat(src);
    if (!s || s->size != copied.size || !(s->mtime == copied.mtime)) {
        logFailure(src + ": kept, it changed after it was copied");
        return;
    }
    if (auto d = os.remove_file(src); !d) logFailure(src + ": not deleted: " + d.error().message());
}

// The target list has just read the directory: its names, hidden or not,
// show what a run cut short left behind.
bool Engine::removeLeftovers() {
    auto& os = os::current();
    std::vector<std::string> stale;
    for (const auto* names : {&host_.hiddenFileNames(Side::target), &host_.fileNames(Side::target)})
        for (const auto& n : *names)
            if (is_temp_name(n)) stale.push_back(n);
    bool removed = false;
    for (const auto& n : stale) removed |= static_cast<bool>(os.remove_file(TargetPath + n));
    return removed;
}

// -- the walk through the subdirectories ----------------------------------------

bool Engine::makeTargetList(const std::string& sourceList) {
    auto& os = os::current();
    auto fail = [&](const os::Error& e) {
        logFailure(SourceRoot + ": subdirectories not replicated: " + e.message());
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
        Host& host;
        ~Forget() { host.readTargetAhead({}); }
    } forget{host_};
    // One line ahead, so that the next target can be read meanwhile.
    std::optional<std::string> line = lines.next();
    for (std::optional<std::string> next; line; line = std::move(next)) {
        next = lines.next();
        if (line->size() < 2) continue;
        const std::string rel = line->substr(1);
        if (!skipped.empty() && rel.size() > skipped.size() &&
            rel.compare(0, skipped.size(), skipped) == 0 && rel[skipped.size()] == sep)
            continue;
        const std::string S = SourceRoot + rel;
        const std::string T = TargetRoot + rel;
        auto skip = [&](const std::string& why) {
            logFailure(why + ", with everything below it");
            skipped = rel;
        };
        if (auto ss = os.stat(S); !ss || ss->kind != os::Kind::dir) {
            skip(S + ": skipped, " +
                 (ss ? std::string("it is no longer a directory") : ss.error().message()));
            continue;
        }
        if (!os.exists(T)) {
            // As open as the source directory, never more.
            if (auto m = os.make_dir_like(T, S); !m) {
                skip(S + ": skipped, " + m.error().message());
                continue;
            }
        } else if (auto ts = os.stat(T); !ts || ts->kind != os::Kind::dir) {
            skip(S + ": skipped, " + T + " is not a directory");
            continue;
        }
        pointAt(S, T);
        yieldNow();
        if (host_.ending()) return;
        pairUnreadable_.reset();
        if (next && next->size() >= 2) host_.readTargetAhead(TargetRoot + next->substr(1));
        SyncDirectory(true);
        if (host_.ending()) return;
        if (pairUnreadable_) {
            logFailure(S + ": skipped, with everything below it: " + pairUnreadable_->message());
            skipped = rel;
        }
    }
    if (lines.error())
        logFailure(SourceRoot + ": subdirectories not all replicated: " + lines.error()->message());
}

// Points the file lists at one subdirectory pair; the trees follow once
// the lists have read. The drives stay those of the roots, which the
// selectors already show.
void Engine::pointAt(const std::string& source, const std::string& target) {
    host_.setFileListPath(Side::source, source);
    host_.setFileListPath(Side::target, target);
    // Selecting the drive already shown changes nothing, so once a walk is
    // enough; looking the drive up is not free.
    if (!drivesSet_) {
        host_.setDrive(Side::source, SourceRoot);
        host_.setDrive(Side::target, TargetRoot);
        drivesSet_ = true;
    }
}

bool Engine::openTreesAtFileLists() {
    for (Side side : {Side::source, Side::target}) {
        if (auto r = host_.openTreeAtFileList(side); !r) {
            pairUnreadable_ = r.error();
            return false;
        }
    }
    return true;
}

}  // namespace qm::engine
