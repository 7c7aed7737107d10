#include "ui/controls.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace qm::ui {

namespace {

// A root keeps its separator ("/", "C:\", "\\server\share\"); any other
// directory has none.
bool is_root(const std::string& p) {
    const std::size_t r = os::root_length(p);
    return r > 0 && r == p.size() && p.back() == os::separator();
}

std::string normalise_dir(std::string p) {
    const char sep = os::separator();
    while (p.size() > 1 && p.back() == sep && !is_root(p)) p.pop_back();
    // "C:" means the root here, and so does "\\server\share".
    if (const std::size_t r = os::root_length(p); r > 0 && r == p.size() && p.back() != sep)
        p += sep;
    return p;
}

// Letters compared as their lower case; ASCII only, as fast as a table.
bool less_name(const std::string& a, const std::string& b) {
    return engine::listed_before(a, b);
}

// What a directory list shows below the open directory.
bool shown_as_subdirectory(const os::DirEntry& e) {
    return e.kind == os::Kind::dir && !e.hidden && !e.system;
}

bool match_from(const char* n, const char* p, bool fold) {
    for (; *p; ++p, ++n) {
        if (*p == '*') {
            while (*p == '*') ++p;
            if (!*p) return true;
            for (; *n; ++n)
                if (match_from(n, p, fold)) return true;
            return false;
        }
        if (!*n) return false;
        if (*p == '?') continue;
        char a = *n, b = *p;
        if (fold) {
            a = static_cast<char>(std::tolower(static_cast<unsigned char>(a)));
            b = static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
        }
        if (a != b) return false;
    }
    return *n == 0;
}

}  // namespace

bool matches_pattern(const std::string& name, const std::string& pattern) {
    // "*.*" names every file, also those without an extension.
    if (pattern == "*.*" || pattern == "*" || pattern.empty()) return true;
    return match_from(name.c_str(), pattern.c_str(), os::case_insensitive_names());
}

// -- DriveList -------------------------------------------------------------

void DriveList::refreshDrives() {
    auto d = os::current().volumes();
    if (d != drives_) {
        drives_ = std::move(d);
        changed.emit();
    }
}

void DriveList::setDrive(const std::string& path) {
    if (drives_.empty()) refreshDrives();
    std::string d = os::current().volume_of(path);
    if (d == drive_) return;
    drive_ = d;
    if (std::find(drives_.begin(), drives_.end(), d) == drives_.end()) drives_.push_back(d);
    changed.emit();
    driveChanged.emit();
}

// -- DirectoryList ---------------------------------------------------------

os::Status DirectoryList::setPath(const std::string& path) {
    auto r = rebuild(normalise_dir(path));
    if (r) changed.emit();
    return r;
}

os::Status DirectoryList::openDrive(const std::string& drive) {
    if (!os::current().volume_ready(drive))
        return std::unexpected(
            os::make_error(os::Errc::not_found, "open drive", drive, "the drive is not ready"));
    return setPath(os::current().volume_root(drive));
}

void DirectoryList::refresh() {
    if (!path_.empty()) (void)rebuild(path_);
    changed.emit();
}

// Opens path: reads it once, and keeps the old path when it cannot be read.
os::Status DirectoryList::rebuild(const std::string& path) {
    auto listing = os::current().list_dir(path);
    if (!listing) return std::unexpected(listing.error());
    std::vector<std::string> subs;
    for (auto& e : *listing)
        if (shown_as_subdirectory(e)) subs.push_back(std::move(e.name));
    build(path, std::move(subs));
    return {};
}

void DirectoryList::show(const std::string& path, const std::vector<std::string>& subdirectories) {
    build(normalise_dir(path), subdirectories);
    changed.emit();
}

void DirectoryList::build(const std::string& path, std::vector<std::string> subs) {
    path_ = path;
    lines_.clear();
    const char sep = os::separator();
    // Ancestors from the root down.
    // A drive ("C:\"), a share ("\\server\share\") or "/" is one line.
    std::size_t pos = os::root_length(path_);
    std::string root = pos > 0 ? path_.substr(0, pos) : std::string(1, sep);
    int depth = 0;
    lines_.push_back({root, root, depth++, path_ == root});
    std::string acc = root;
    while (pos < path_.size()) {
        auto next = path_.find(sep, pos);
        std::string part =
            path_.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        if (!part.empty()) {
            acc = os::join(acc, part);
            lines_.push_back({acc, part, depth++, false});
        }
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    lines_.back().open = true;
    std::sort(subs.begin(), subs.end(), less_name);
    for (const auto& s : subs) lines_.push_back({os::join(path_, s), s, depth, false});
}

// -- FileList --------------------------------------------------------------

void FileList::setPath(const std::string& path, bool reread) {
    path_ = normalise_dir(path);
    clear();
    if (reread) refresh();
}

void FileList::setPattern(const std::string& p) {
    pattern_ = p;
    refresh();
}

void FileList::refresh(const std::function<bool()>& between) {
    // The last read is of no use once this one is made: not held meanwhile.
    clear();
    if (path_.empty())
        show(std::vector<os::DirEntry>{});
    else
        show(os::current().list_dir_detailed(path_, between), between);
}

void FileList::clear() {
    listing_ = std::make_shared<engine::FileListing>();
    hidden_.clear();
    subdirs_.clear();
    error_.reset();
}

void FileList::show(os::Result<std::vector<os::DirEntry>> listing,
                    const std::function<bool()>& between) {
    clear();
    if (!listing) {
        error_ = listing.error();
        changed.emit();
        return;
    }
    // Called between pieces of the work, so that a directory of many files
    // never holds the window for long; once it says stop, no more.
    bool going = static_cast<bool>(between);
    auto pace = [&] {
        if (going) going = between();
    };
    // The files shown are gathered at the front of the listing itself:
    // a directory of many files is held once, not twice, on its way.
    auto& all = *listing;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        auto& e = all[i];
        if (shown_as_subdirectory(e)) subdirs_.push_back(std::move(e.name));
        if (e.kind != os::Kind::file) continue;
        if (e.hidden || e.system)
            hidden_.push_back(std::move(e.name));
        else if (matches_pattern(e.name, pattern_) && kept++ != i)
            all[kept - 1] = std::move(e);
    }
    all.resize(kept);
    // A directory of many subdirectories and few files keeps little.
    if (kept < all.capacity() / 2) all.shrink_to_fit();
    put_in_listed_order(all, pace);
    auto made = std::make_shared<engine::FileListing>();
    made->entries = std::move(all);
    listing_ = std::move(made);
    changed.emit();
}

namespace {

// The positions of entries in list order.
std::vector<std::uint32_t> listed_order(const std::vector<os::DirEntry>& all,
                                        const std::function<void()>& pace) {
    const std::size_t n = all.size();
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    // Most comparisons are settled by the first eight letters, folded, as
    // one number: a small array to look in, not every entry.
    std::vector<std::uint64_t> keys(n);
    for (std::size_t i = 0; i < n; ++i) keys[i] = engine::listed_key(all[i].name);
    auto before = [&](std::uint32_t a, std::uint32_t b) {
        if (keys[a] != keys[b]) return keys[a] < keys[b];
        return less_name(all[a].name, all[b].name);
    };
    // Sorted by position rather than by moving whole entries, in runs that
    // are then merged, each step a short one.
    constexpr std::size_t kRun = 4096;
    auto step = [&] {
        if (pace) pace();
    };
    for (std::size_t b = 0; b < n; b += kRun) {
        std::sort(order.begin() + static_cast<std::ptrdiff_t>(b),
                  order.begin() + static_cast<std::ptrdiff_t>(std::min(n, b + kRun)), before);
        step();
    }
    for (std::size_t width = kRun; width < n; width *= 2) {
        for (std::size_t b = 0; b + width < n; b += 2 * width) {
            const auto first = order.begin() + static_cast<std::ptrdiff_t>(b);
            std::inplace_merge(
                first, first + static_cast<std::ptrdiff_t>(width),
                order.begin() + static_cast<std::ptrdiff_t>(std::min(n, b + 2 * width)), before);
            step();
        }
    }
    return order;
}

}  // namespace

void put_in_listed_order(std::vector<os::DirEntry>& entries, const std::function<void()>& pace) {
    // A listing put in order on the reading thread needs one look.
    if (std::is_sorted(entries.begin(), entries.end(),
                       [](const auto& a, const auto& b) { return less_name(a.name, b.name); }))
        return;
    std::vector<std::uint32_t> order = listed_order(entries, pace);
    // Each cycle of the permutation moved round once: no second copy of
    // the entries is ever held. A place done points at itself.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start) continue;
        os::DirEntry held = std::move(entries[start]);
        std::size_t at = start;
        while (order[at] != start) {
            const std::size_t from = order[at];
            entries[at] = std::move(entries[from]);
            order[at] = static_cast<std::uint32_t>(at);
            at = from;
        }
        entries[at] = std::move(held);
        order[at] = static_cast<std::uint32_t>(at);
    }
}

}  // namespace qm::ui
