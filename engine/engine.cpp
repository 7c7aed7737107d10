#include "engine/engine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unordered_set>

#include "batch/store.h"

namespace qm::engine {

namespace {

using Clock = std::chrono::steady_clock;
// Work between two yields stays well under 50 ms.
constexpr auto kYieldEvery = std::chrono::milliseconds(30);

std::string trim(const std::string& s) {
    auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

constexpr const char* kTempPrefix = ".qm-";
constexpr const char* kTempSuffix = ".part";

bool is_temp_name(const std::string& n) {
    return n.size() > 9 && n.rfind(kTempPrefix, 0) == 0 &&
           n.compare(n.size() - 5, 5, kTempSuffix) == 0;
}

}  // namespace

Engine::Engine(Host& host) : host_(host) {}

std::string Engine::listDirectory() {
    auto w = os::current().env("winbootdir");
    if (w && !w->empty()) return *w;
    return os::current().temp_dir();
}

std::string Engine::stamp() {
    const os::LocalTime t = host_.now();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d/%02d:%02d:%02d-", t.month, t.day, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

void Engine::WriteSyncLog(const std::string& Text) {
    // A log that cannot be written never stops a run.
    (void)os::current().append_file(os::join(host_.programDir(), "syncfile.log"),
                                    os::text_to_file(Text + "\r\n"));
}

void Engine::logFailure(const std::string& what) {
    if (host_.logEnabled()) WriteSyncLog(stamp() + " " + what);
}

void Engine::yieldNow() {
    host_.yield();
    lastYield_ = Clock::now();
}

void Engine::yieldIfDue() {
    if (Clock::now() - lastYield_ >= kYieldEvery) yieldNow();
}

// -- tree listing ------------------------------------------------------------

void Engine::ListDirectoryTree(const std::string& Root) {
    if (ListingActive) {
        ListingActive = false;
        return;
    }
    host_.setBusyPointer(true);
    ListingActive = true;
    ListDirectoryLevel(Root);
    ListingActive = false;
    host_.setBusyPointer(false);
}

void Engine::ListDirectoryLevel(const std::string& Path) {
    yieldNow();
    if (host_.ending()) ListingActive = false;
    if (!ListingActive) return;
    auto entries = os::current().list_dir(Path);
    if (!entries) {
        logFailure(entries.error().message());
        return;
    }
    std::vector<std::string> names;
    for (auto& e : *entries) {
        // Links and other non-directories are never followed.
        if (e.kind != os::Kind::dir || e.name.empty() || e.name[0] == '.') continue;
        if (e.name.find_first_of("\r\n") != std::string::npos) {
            logFailure(Path + e.name + ": skipped, the name holds a line break");
            continue;
        }
        if (excludeId_) {
            // The target inside the source: runs must not copy copies.
            auto id = os::current().identity(Path + e.name);
            if (id && *id == *excludeId_) continue;
        }
        names.push_back(std::move(e.name));
    }
    entries->clear();
    const std::string list = os::join(listDirectory(), SourceListName);
    for (const auto& n : names) {
        if (auto w = os::current().append_file(list, os::text_to_file(Path + n + "\r\n")); !w) {
            listFailed_ = w.error();
            ListingActive = false;
            return;
        }
        ListDirectoryLevel(os::with_separator(Path + n));
    }
}

// -- one directory pair ------------------------------------------------------------

bool Engine::copyOne(const std::string& name) {
    auto& os = os::current();
    const std::string src = SourcePath + name;
    const std::string dst = TargetPath + name;
    std::string tmp = TargetPath + kTempPrefix;
    for (int i = 0; i < 8; ++i) tmp += "0123456789abcdef"[random_.below(16)];
    tmp += kTempSuffix;
    // Between chunks of a large copy the window stays responsive.
    auto progress = [this](std::uint64_t done, std::uint64_t total) {
        if (done > 0 && done < total) yieldNow();
        return !host_.ending();
    };
    auto r = os.copy_file(src, tmp, progress);
    if (r) r = os.rename_replace(tmp, dst);
    if (!r) {
        (void)os.remove_file(tmp);
        if (!host_.ending()) logFailure(src + ": not copied: " + r.error().message());
        return false;
    }
    lastDurable_ = true;
    if (auto f = os.flush_dir(TargetPath); !f) {
        lastDurable_ = false;
        logFailure(f.error().message());
    }
    return true;
}

void Engine::deleteMoved(const std::string& name, const os::FileInfo& copied) {
    auto& os = os::current();
    const std::string src = SourcePath + name;
    const std::string dst = TargetPath + name;
    if (!lastDurable_) {
        logFailure(src + ": kept, its copy could not be flushed to disk");
        return;
    }
    auto t = os.stat(dst);
    if (!t || t->size != copied.size || t->mtime.sec != copied.mtime.sec) {
        logFailure(src + ": kept, its copy could not be checked");
        return;
    }
    // Changed since it was copied: the next run copies it again.
    auto s = os.stat(src);
    if (!s || s->size != copied.size || !(s->mtime == copied.mtime)) {
        logFailure(src + ": kept, it changed while it was copied");
        return;
    }
    if (auto d = os.remove_file(src); !d) logFailure(src + ": not deleted: " + d.error().message());
}

void Engine::removeLeftovers() {
    auto entries = os::current().list_dir(TargetPath);
    if (!entries) return;
    for (const auto& e : *entries)
        if (e.kind == os::Kind::file && is_temp_name(e.name))
            (void)os::current().remove_file(TargetPath + e.name);
}

void Engine::SyncDirectory(bool Nested) {
    auto& os = os::current();
    random_.seed_from_time_of_day();
    host_.refreshFileList(Side::source);
    host_.refreshFileList(Side::target);
    SourcePath = os::with_separator(host_.treePath(Side::source));
    TargetPath = os::with_separator(host_.treePath(Side::target));
    host_.setSubsChecked(host_.subsValue() != "NO");

    if (!Nested) {
        listFailed_.reset();
        excludeId_.reset();
        auto sid = os.identity(SourcePath);
        auto tid = os.identity(TargetPath);
        if (sid && tid && *sid == *tid) {
            // The same directory, however spelt: nothing to copy, nothing
            // to delete.
            logFailure(SourcePath + ": skipped, source and target are the same directory");
            SourceRoot = SourcePath;
            TargetRoot = TargetPath;
            return;
        }
        if (tid) excludeId_ = *tid;
        auto name = [this] {
            std::string n;
            for (int i = 0; i < 8; ++i) n += static_cast<char>('0' + random_.below(8));
            return n + ".DIR";
        };
        SourceListName = name();
        TargetListName = name();
        const std::string list = os::join(listDirectory(), SourceListName);
        madeLists_.push_back(list);
        madeLists_.push_back(os::join(listDirectory(), TargetListName));
        if (auto w = os.write_file(list, "", false); !w) {
            listFailed_ = w.error();
        } else {
            ListDirectoryTree(SourcePath);
        }
        if (host_.ending()) return;
        host_.pause(2000);
        TargetRoot = TargetPath;
        SourceRoot = SourcePath;
        if (listFailed_) {
            // A silently shorter walk would skip directories unseen.
            logFailure("not replicated: the directory list could not be written: " +
                       listFailed_->message());
            return;
        }
    }

    if (auto e = host_.fileListError(Side::source)) {
        logFailure(e->message());
        return;
    }
    removeLeftovers();
    const std::vector<std::string> files = host_.fileNames(Side::source);
    std::unordered_set<std::string> targets(host_.fileNames(Side::target).begin(),
                                            host_.fileNames(Side::target).end());
    const int n = static_cast<int>(files.size());
    host_.setCountText(Side::source, std::to_string(n) + " File(s)\r\n" + SourcePath);
    host_.setCountText(Side::target,
                       std::to_string(targets.size()) + " File(s)\r\n" + TargetPath);
    host_.setProgressRange(0, n == 0 ? 1 : n);
    host_.setProgressVisible(true);

    int count = 0;
    for (int i = 0; i < n; ++i) {
        host_.setProgressValue(i);
        const std::string& name = files[static_cast<std::size_t>(i)];
        auto src = os.stat(SourcePath + name);
        if (!src || src->kind != os::Kind::file) {
            logFailure(SourcePath + name + ": skipped: " +
                       (src ? std::string("not a regular file") : src.error().message()));
            continue;
        }
        bool same = false;
        if (targets.count(name)) {
            auto dst = os.stat(TargetPath + name);
            same = dst && dst->kind == os::Kind::file && dst->size == src->size &&
                   dst->mtime.sec == src->mtime.sec;
        }
        if (same) {
            yieldIfDue();
            if (host_.ending()) return;
            continue;
        }
        bool yes = true;
        if (host_.checked(Option::confirm)) {
            const bool move = host_.checked(Option::move);
            yes = host_.ask((move ? "Move file " : "Copy File ") + trim(name) + "?");
            if (host_.ending()) return;
        }
        if (!yes && host_.checked(Option::confirm)) continue;
        const bool copied = copyOne(name);
        if (copied) ++count;
        yieldNow();
        if (host_.ending()) return;
        if (copied && host_.checked(Option::move)) deleteMoved(name, *src);
    }

    if (host_.logEnabled() && count != 0)
        WriteSyncLog(stamp() + " " + std::to_string(count) + " files copied/moved");

    if (!Nested && host_.checked(Option::subs)) walk();
    host_.setProgressVisible(false);
}

void Engine::walk() {
    auto& os = os::current();
    const std::string dir = listDirectory();
    auto source = os.read_file(os::join(dir, SourceListName));
    if (!source) {
        logFailure("not replicated: " + source.error().message());
        return;
    }
    const std::size_t cut = SourceRoot.size() - 1;
    std::string target;
    for (const auto& line : batch::split_lines(os::text_from_file(*source)))
        target += (line.size() >= cut ? line.substr(cut) : std::string()) + "\r\n";
    const std::string targetList = os::join(dir, TargetListName);
    if (auto w = os.write_file(targetList, os::text_to_file(target), false); !w) {
        logFailure("not replicated: the directory list could not be written: " + w.error().message());
        return;
    }
    auto lines = os.read_file(targetList);
    if (!lines) {
        logFailure("not replicated: " + lines.error().message());
        return;
    }
    for (const auto& line : batch::split_lines(os::text_from_file(*lines))) {
        if (line.size() < 2) continue;
        const std::string rel = line.substr(1);
        const std::string S = SourceRoot + rel;
        const std::string T = TargetRoot + rel;
        if (!os.exists(T)) {
            if (auto m = os.make_dir(T); !m) {
                logFailure(T + ": not created: " + m.error().message());
                continue;
            }
        } else if (auto st = os.stat(T); !st || st->kind != os::Kind::dir) {
            logFailure(T + ": skipped, the name is taken by a file");
            continue;
        }
        auto ss = os.stat(S);
        if (!ss || ss->kind != os::Kind::dir) {
            logFailure(S + ": skipped, the directory is gone");
            continue;
        }
        host_.setFileListPath(Side::source, S);
        host_.setFileListPath(Side::target, T);
        if (auto a = host_.setTreePath(Side::source, S); !a) {
            logFailure(a.error().message());
            continue;
        }
        if (auto b = host_.setTreePath(Side::target, T); !b) {
            logFailure(b.error().message());
            continue;
        }
        // Opening the trees above has just read them: no refresh needed.
        host_.setDrive(Side::source, SourceRoot);
        host_.setDrive(Side::target, TargetRoot);
        yieldNow();
        if (host_.ending()) return;
        SyncDirectory(true);
        if (host_.ending()) return;
    }
}

// -- the batch run ------------------------------------------------------------

bool Engine::pointPickers(const std::string& source, const std::string& target) {
    host_.setFileListPath(Side::source, source);
    host_.setFileListPath(Side::target, target);
    // The drive before the tree: selecting a drive moves the tree to it.
    host_.setDrive(Side::source, source);
    host_.setDrive(Side::target, target);
    bool ok = true;
    if (auto a = host_.setTreePath(Side::source, source); !a) {
        logFailure(a.error().message());
        ok = false;
    }
    if (auto b = host_.setTreePath(Side::target, target); !b) {
        logFailure(b.error().message());
        ok = false;
    }
    host_.refreshTree(Side::source);
    host_.refreshTree(Side::target);
    return ok;
}

void Engine::removeListFiles() {
    // Only the files this run made: the directory may be the shared temp,
    // where another instance keeps its own lists.
    for (const auto& f : madeLists_)
        if (os::current().exists(f)) (void)os::current().remove_file(f);
    madeLists_.clear();
}

void Engine::RunBatch() {
    if (running_) return;
    running_ = true;
    lastYield_ = Clock::now();
    host_.clearBatchList();
    host_.checkBatchFile();
    host_.listBatch();
    host_.setRunBusy(true);
    SyncDirectory(false);
    while (!host_.ending() && NextBatchEntry()) RunBatchEntry();
    if (!host_.ending()) {
        (void)pointPickers(SourceRoot, TargetRoot);
        host_.setRunBusy(false);
        host_.resetMinuteCounter();
    }
    removeListFiles();
    running_ = false;
}

bool Engine::NextBatchEntry() {
    auto& os = os::current();
    ++BatchCursor;
    const std::string dir = host_.programDir();
    const std::string dat = os::join(dir, batch::kSnapshotName);
    auto content = os.read_file(os::join(dir, batch::kFileName));
    if (!content) {
        logFailure("the batch could not be read: " + content.error().message());
        return false;
    }
    if (auto w = os.write_file(dat, *content, false); !w) {
        logFailure("the batch could not be read: " + w.error().message());
        return false;
    }
    auto snap = os.read_file(dat);
    if (!snap) return false;
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
    host_.setSubsValue(batch::subs_of(CursorEntryLines[2]));
    // A pair the pickers cannot show is skipped: the trees would still
    // name another pair.
    if (pointPickers(source, target)) SyncDirectory(false);
    (void)os::current().remove_file(os::join(host_.programDir(), batch::kSnapshotName));
}

}  // namespace qm::engine
