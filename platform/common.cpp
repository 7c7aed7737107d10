// The parts of the platform layer that every backend shares.
#include <chrono>
#include <optional>

#include "platform/platform.h"

namespace qm::os {

namespace {
Os* installed = nullptr;
}

std::string Error::message() const {
    std::string m = op;
    if (!path.empty()) m += " " + path;
    if (!reason.empty()) m += ": " + reason;
    return m;
}

Error make_error(Errc code, std::string op, std::string path, std::string reason) {
    Error e;
    e.code = code;
    e.op = std::move(op);
    e.path = std::move(path);
    e.reason = std::move(reason);
    return e;
}

Result<std::string> Os::read_part(const std::string& path, std::uint64_t offset, std::size_t max) {
    auto all = read_file(path);
    if (!all) return all;
    if (offset >= all->size()) return std::string();
    return all->substr(static_cast<std::size_t>(offset), max);
}

Result<OpenDir> Os::open_dir(const std::string& path) {
    return OpenDir{with_separator(path), nullptr, nullptr};
}

Result<OpenDir> Os::open_dir_below(const OpenDir& root, const std::string& rel) {
    std::string path = root.path;
    for (std::size_t at = 0; at < rel.size();) {
        auto end = rel.find(separator(), at);
        if (end == std::string::npos) end = rel.size();
        path += rel.substr(at, end - at);
        auto st = stat(path);
        if (!st) return std::unexpected(st.error());
        if (st->kind != Kind::dir)
            return std::unexpected(
                make_error(Errc::not_dir, "open", path, "not a directory (a link, or a file)"));
        path += separator();
        at = end + 1;
    }
    return OpenDir{path, root.fd, root.pin};
}

Result<FileInfo> Os::stat_in(const OpenDir& dir, const std::string& name) {
    return stat(dir.path + name);
}

Result<FileState> Os::file_state_in(const OpenDir& dir, const std::string& name) {
    return file_state(dir.path + name);
}

Status Os::make_dir_like_in(const OpenDir& parent, const std::string& name,
                            const std::string& model) {
    return make_dir_like(parent.path + name, model);
}

Result<FileState> Os::copy_file_in(const OpenDir& from, const std::string& from_name,
                                   const OpenDir& to, const std::string& to_name,
                                   const CopyProgress& progress, bool durable, FileId* made) {
    auto r = copy_file(from.path + from_name, to.path + to_name, progress, durable);
    if (r && made) {
        auto s = file_state(to.path + to_name);
        if (!s) {
            (void)remove_file(to.path + to_name);
            return std::unexpected(s.error());
        }
        *made = s->id;
    }
    return r;
}

Status Os::remove_unchanged(const OpenDir& dir, const std::string& name,
                            const FileState& expected) {
    auto s = file_state_in(dir, name);
    if (!s) return std::unexpected(s.error());
    if (!(*s == expected))
        return std::unexpected(
            make_error(Errc::changed, "delete", dir.path + name, "it changed since it was copied"));
    return remove_in(dir, name);
}

bool Os::volume_mounted(const std::string& path) {
    return volume_ready(volume_of(path));
}

namespace {
// path is dir or lies below it ("/" separators).
bool at_or_below(const std::string& path, const std::string& dir) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    if (d == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, d.size(), d) == 0 && (path.size() == d.size() || path[d.size()] == '/');
}
// The first n components of an absolute path, or nothing when it has fewer.
std::optional<std::string> head_of(const std::string& path, int n) {
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) {
        if (at >= path.size() || path[at] != '/') return std::nullopt;
        auto next = path.find('/', at + 1);
        if (next == at + 1) return std::nullopt;
        at = next == std::string::npos ? path.size() : next;
    }
    return path.substr(0, at);
}
}  // namespace

bool below_missing_mount(const std::string& path, const std::vector<std::string>& listed,
                         const std::vector<std::string>& mounted) {
    auto is_mounted = [&](const std::string& m) {
        std::string d = m;
        while (d.size() > 1 && d.back() == '/') d.pop_back();
        for (const auto& x : mounted) {
            std::string y = x;
            while (y.size() > 1 && y.back() == '/') y.pop_back();
            if (y == d) return true;
        }
        return false;
    };
    for (const auto& l : listed)
        if (l != "/" && !l.empty() && l[0] == '/' && at_or_below(path, l) && !is_mounted(l))
            return true;
    // Where removable volumes come and go, the directory they are mounted
    // on is made and removed with them, or stays behind empty.
    std::vector<std::string> places;
    if (at_or_below(path, "/run/media")) {
        if (auto h = head_of(path, 4)) places.push_back(*h);
    } else if (at_or_below(path, "/media")) {
        for (int n : {2, 3})
            if (auto h = head_of(path, n)) places.push_back(*h);
    }
    if (places.empty()) return false;
    for (const auto& p : places)
        if (is_mounted(p)) return false;
    return true;
}

Status Os::rename_in(const OpenDir& dir, const std::string& from, const std::string& to) {
    return rename_replace(dir.path + from, dir.path + to);
}

Status Os::remove_in(const OpenDir& dir, const std::string& name) {
    return remove_file(dir.path + name);
}

Error cancelled(std::string op, std::string path) {
    return make_error(Errc::cancelled, std::move(op), std::move(path), "cancelled");
}

Result<std::vector<DirEntry>> Os::list_dir_detailed(const std::string& dir,
                                                    const std::function<bool()>& between) {
    auto entries = list_dir(dir);
    if (!entries) return entries;
    std::vector<DirEntry> out;
    out.reserve(entries->size());
    for (auto& e : *entries) {
        if (between && !between()) return std::unexpected(cancelled("read directory", dir));
        auto st = stat(join(dir, e.name));
        if (!st) continue;
        e.kind = st->kind;
        e.size = st->size;
        e.mtime = st->mtime;
        out.push_back(std::move(e));
    }
    return out;
}

Status each_first_failure(const std::vector<std::string>& items,
                          const std::function<Status(const std::string&)>& step) {
    Status first;
    for (const auto& item : items)
        if (auto r = step(item); !r && first) first = std::move(r);
    return first;
}

Os& current() {
    return installed ? *installed : native();
}

ScopedOs::ScopedOs(Os& os) : previous_(installed) {
    installed = &os;
}
ScopedOs::~ScopedOs() {
    installed = previous_;
}

std::string with_separator(std::string path) {
    if (path.empty() || path.back() != separator()) path += separator();
    return path;
}

std::string join(const std::string& dir, const std::string& name) {
    return with_separator(dir) + name;
}

std::size_t root_length(const std::string& path) {
    if (separator() == '/') return !path.empty() && path[0] == '/' ? 1 : 0;
    auto is_sep = [](char c) { return c == '\\' || c == '/'; };
    std::size_t at = 0;
    // The long-path forms: "\\?\C:\..." and "\\?\UNC\server\share\...".
    bool unc = false;
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        at = 8;
        unc = true;
    } else if (path.rfind("\\\\?\\", 0) == 0) {
        at = 4;
    } else if (path.size() >= 2 && is_sep(path[0]) && is_sep(path[1])) {
        at = 2;
        unc = true;
    }
    if (unc) {
        // "\\server\share\": the share is the root.
        std::size_t end = at;
        for (int part = 0; part < 2; ++part) {
            while (end < path.size() && !is_sep(path[end])) ++end;
            if (end < path.size() && part == 0) ++end;
        }
        return end < path.size() ? end + 1 : path.size();
    }
    if (path.size() >= at + 2 && path[at + 1] == ':')
        return path.size() > at + 2 && is_sep(path[at + 2]) ? at + 3 : at + 2;
    return at < path.size() && is_sep(path[at]) ? at + 1 : at;
}

std::string parent_of(const std::string& path) {
    const std::size_t root = root_length(path);
    if (root > 0 && root >= path.size()) return path;  // a root is its own parent
    const auto cut = path.find_last_of(separator() == '\\' ? "\\/" : "/");
    if (cut == std::string::npos) return ".";
    if (cut < root) return path.substr(0, root);
    if (cut + 1 == root) return path.substr(0, root);
    return path.substr(0, cut);
}

Result<std::string> Os::own_temp_dir() {
    std::string dir = join(temp_dir(), own_temp_name());
    if (auto m = make_private_dir(dir); !m) return std::unexpected(m.error());
    return dir;
}

void Random::seed_from_time_of_day() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    state_ = static_cast<std::uint64_t>(us % 86'400'000'000LL) * 6364136223846793005ULL +
             1442695040888963407ULL;
}

int Random::below(int n) {
    // xorshift64*: plenty for list-file names.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    std::uint64_t r = state_ * 2685821657736338717ULL;
    return n <= 0 ? 0 : static_cast<int>((r >> 33) % static_cast<std::uint64_t>(n));
}

}  // namespace qm::os
