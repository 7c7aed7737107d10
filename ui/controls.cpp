#include "ui/controls.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "engine/reader.h"

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
        if (engine::shown_as_subdirectory(e)) subs.push_back(std::move(e.name));
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
    if (path_.empty()) return show(engine::DirRead::at(path_));
    auto listing = os::current().list_dir_detailed(path_, between);
    // Files the pattern leaves out are not the list's.
    if (listing)
        std::erase_if(*listing, [&](const os::DirEntry& e) {
            return e.kind == os::Kind::file && !e.hidden && !e.system &&
                   !matches_pattern(e.name, pattern_);
        });
    show(engine::make_dir_read(path_, std::move(listing), between));
}

void FileList::clear() {
    listing_ = std::make_shared<engine::FileListing>();
    subdirs_.clear();
    error_.reset();
}

void FileList::show(const engine::DirRead& read) {
    path_ = normalise_dir(read.path);
    listing_ = read.files;
    subdirs_ = read.subdirectories;
    error_ = read.error;
    changed.emit();
}

}  // namespace qm::ui
