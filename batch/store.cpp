#include "batch/store.h"

#include <algorithm>
#include <cctype>

namespace qm::batch {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    bool open = false;  // a line has started and not yet ended
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(cur));
            cur.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            cur += c;
            open = true;
        }
    }
    if (open) lines.push_back(std::move(cur));
    return lines;
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

std::string path_of(const std::string& line) {
    return line.size() > 7 ? line.substr(7) : "";
}
std::string subs_of(const std::string& line) {
    return line.size() > 5 ? line.substr(5) : "";
}

std::string sign_number(long long n) {
    return n >= 0 ? " " + std::to_string(n) : std::to_string(n);
}

Store::Store(Window& window, std::string program_dir)
    : window_(window), dir_(std::move(program_dir)) {}

std::string Store::batchPath() const {
    return os::join(dir_, kFileName);
}

std::string Store::replacePath() const {
    if (!os::case_insensitive_names()) return batchPath();
    auto upper = [](std::string n) {
        for (auto& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return n;
    };
    if (auto names = os::current().list_dir(dir_)) {
        for (const auto& e : *names)
            if (upper(e.name) == kFileName) return os::join(dir_, e.name);
    }
    return os::join(dir_, kCreatedName);
}
std::string Store::newPath() const {
    return os::join(dir_, kNewName);
}
std::string Store::snapshotPath() const {
    return os::join(dir_, kSnapshotName);
}

void Store::report(const std::string& what, const os::Error& e) {
    checkFailure_ = e;
    window_.notice("Information", what + "\r\n" + e.message());
}

std::optional<std::vector<std::string>> Store::ReadLines(std::string* raw) {
    auto content = os::current().read_file(batchPath());
    if (!content) {
        report("The batch file " + batchPath() + " could not be read.", content.error());
        return std::nullopt;
    }
    auto lines = split_lines(os::text_from_file(*content));
    if (raw) *raw = std::move(*content);
    return lines;
}

void Store::KeepWorkingCopy(const std::string& data) {
    // Only a working copy: nothing reads it back, so it needs no flush, and
    // the batch file it copies is whole whether or not this write works.
    (void)os::current().write_file(newPath(), data, false);
}

bool Store::Replace(const std::vector<std::string>& lines, bool asked) {
    auto& os = os::current();
    const std::string data = os::text_to_file(join_lines(lines));
    auto before = os.stat(batchPath());
    // A batch file without write permission is the user's to keep as it
    // is, also from a program with the power to replace it. Said once,
    // not at every tick; an edit the user asked for is always answered.
    if (before && before->read_only) {
        if (auto now = os.read_file(batchPath()); now && *now == data) return true;
        if (asked || !toldReadOnly_)
            window_.notice("Information", "The batch file " + batchPath() +
                                              " was left unchanged: it is read-only.");
        toldReadOnly_ = true;
        return false;
    }
    toldReadOnly_ = false;
    // The complete new content goes to batch.new first and is flushed; the
    // batch file is then replaced in one atomic step, never truncated.
    if (auto w = os.write_file(newPath(), data, true); !w) {
        report("The batch file " + batchPath() +
                   " was left unchanged: its new content could not be written.",
               w.error());
        return false;
    }
    // The replacement gets the permissions of the file it replaces before
    // it holds anything.
    const std::string tmp = os::join(dir_, "batch.tmp");
    auto w = os.write_file(tmp, "", false);
    if (w && before) w = os.copy_permissions(batchPath(), tmp);
    if (w) w = os.write_file(tmp, data, true);
    if (w) w = os.rename_replace(tmp, replacePath());
    if (!w) {
        (void)os.remove_file(tmp);
        report("The batch file " + batchPath() + " was left unchanged: it could not be replaced.",
               w.error());
        return false;
    }
    // Replaced, but the rename may not survive a power cut yet: said once
    // until a flush works again, not at every tick.
    if (auto f = os.flush_dir(dir_); !f) {
        if (!toldUnflushed_)
            report("The batch file " + batchPath() + " was replaced but may not be on disk yet.",
                   f.error());
        toldUnflushed_ = true;
    } else {
        toldUnflushed_ = false;
    }
    return true;
}

void Store::CheckBatchFile() {
    auto& os = os::current();
    const std::string root = os::placeholder_root();
    first_.reset();
    firstSubs_.clear();
    checkFailure_.reset();

    // Only a file that is surely absent is created afresh; one that cannot
    // be looked up is left for the read below to report.
    if (auto here = os.probe(batchPath()); here && !*here) {
        window_.notice(
            "First time",
            "Please select Source and Target directory...\r\nThen remove initial batch entry...");
        if (!Replace({kHeader, "Source:" + root, "Target:" + root, "Subs:YES"})) return;
    }

    std::string held;
    auto read = ReadLines(&held);
    if (!read) return;
    const std::vector<std::string>& old = *read;

    // Repair: the header is rewritten whatever it held; an entry is kept
    // unless one of its directories is surely gone from a volume that is
    // there. Each entry is judged alone. A passing failure (no permission,
    // an I/O error, a network that does not answer) keeps the entry, and
    // so does a drive that is unplugged, not mounted or not ready: the run
    // then logs why it was not replicated.
    auto present = [&](const std::string& line) {
        std::string head = line.substr(0, 4);
        for (auto& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (head == "SUBS") return true;
        if (!line.empty() && line.back() == os::separator()) return true;
        const std::string p = path_of(line);
        if (p.empty()) return false;
        auto here = os.probe(p);
        return !here || *here || !os.volume_mounted(p);
    };

    std::vector<std::string> repaired{kHeader};
    std::size_t i = 1, kept = 0;
    for (; i + 3 <= old.size(); i += 3) {
        if (present(old[i]) && present(old[i + 1])) {
            repaired.insert(repaired.end(), old.begin() + static_cast<long>(i),
                            old.begin() + static_cast<long>(i) + 3);
            ++kept;
        }
    }
    if (i < old.size()) {
        // The file ends inside an entry: those lines name no complete pair
        // and cannot be replicated. Say what is dropped, so nothing the user
        // wrote vanishes unseen.
        std::string dropped;
        for (; i < old.size(); ++i) dropped += "\r\n" + old[i];
        window_.notice("Information",
                       "The batch file ended inside an entry. These lines were removed:" + dropped);
    }
    if (kept == 0) repaired = {kHeader, "Source:" + root, "Target:" + root, "Subs:NO"};

    // A batch file that needs no repair, as at nearly every tick, is left
    // as it is: replacing it with the same bytes would flush the disk every
    // minute for nothing. batch.new still holds the batch as checked.
    const std::string data = os::text_to_file(join_lines(repaired));
    bool written = true;
    if (data == held)
        KeepWorkingCopy(data);
    else
        written = Replace(repaired);
    const bool entries_changed =
        written && !std::equal(old.begin() + (old.empty() ? 0 : 1), old.end(), repaired.begin() + 1,
                               repaired.end());
    const std::vector<std::string>& now = written ? repaired : old;

    for (std::size_t k = 0; k < now.size(); ++k) {
        if (now[k] != kHeader) continue;
        if (k + 3 < now.size()) {
            const std::string source = path_of(now[k + 1]);
            const std::string target = path_of(now[k + 2]);
            firstSubs_ = subs_of(now[k + 3]);
            window_.setSubsValue(firstSubs_);
            window_.showFirstEntry(source, target);
            first_.emplace(source, target);
        }
        break;
    }
    if (entries_changed) ListBatch();
}

bool Store::IsSingleEntryBatch() {
    auto lines = ReadLines();
    // Unreadable: refuse a removal rather than guess.
    if (!lines) return true;
    return lines->size() <= 4;
}

void Store::ListBatch() {
    (void)os::current().set_current_dir(window_.startDirectory());
    window_.clearList();
    listed_.clear();
    auto lines = ReadLines();
    if (!lines) return;
    const auto& l = *lines;
    if (!l.empty()) listed_.assign(l.begin() + 1, l.end());
    long long n = 1;
    for (std::size_t i = 1; i + 3 <= l.size(); i += 3, ++n) {
        const std::string num = sign_number(n) + ". ";
        window_.addListItem(num + "Source:" + path_of(l[i]));
        window_.addListItem(num + "Target:" + path_of(l[i + 1]));
        window_.addListItem(num + "Include Subs:" + subs_of(l[i + 2]));
        window_.addListItem(std::string(91, '-'));
    }
}

}  // namespace qm::batch
