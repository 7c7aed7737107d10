// The parts of the platform layer that every backend shares.
#include <chrono>
#include <cstdio>
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

std::string encode_text(std::string_view utf8, const CodePage& cp) {
    if (auto bytes = cp.encode(utf8)) return std::move(*bytes);
    std::string out(kUtf8Bom);
    out += utf8;
    return out;
}

std::string decode_text(std::string_view bytes, const CodePage& cp) {
    if (bytes.starts_with(kUtf8Bom)) return std::string(bytes.substr(kUtf8Bom.size()));
    return cp.decode(bytes);
}

namespace {
// The length of the UTF-8 sequence that starts at text[at]; 0 when the
// bytes there are not one.
std::size_t sequence_at(std::string_view text, std::size_t at, char32_t* code) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = b(at);
    std::size_t n = 0;
    char32_t c = 0;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (at + n > text.size()) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(at + i) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and what lies past U+10FFFF are not UTF-8.
    if ((n == 3 && c < 0x800) || (n == 4 && c < 0x10000) || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *code = c;
    return n;
}
}  // namespace

std::string escape_outside(std::string_view utf8, const CodePage& cp) {
    std::string out;
    char buf[16];
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t code = 0;
        const std::size_t n = sequence_at(utf8, at, &code);
        if (n == 0) {
            // Not UTF-8: the byte, so that nothing is lost.
            std::snprintf(buf, sizeof buf, "<%02X>", static_cast<unsigned char>(utf8[at]));
            out += buf;
            ++at;
            continue;
        }
        const std::string_view one = utf8.substr(at, n);
        if (n == 1 || cp.encode(one)) {
            out += one;
        } else {
            std::snprintf(buf, sizeof buf, "<U+%04X>", static_cast<unsigned>(code));
            out += buf;
        }
        at += n;
    }
    return out;
}

namespace {
// Rewrites the 8-bit text file path whole as UTF-8 behind the byte-order
// mark, through path + ".tmp", renamed into its place only when complete
// and flushed. On failure path is as it was.
Status convert_to_utf8(Os& os, const std::string& path, const CodePage& cp) {
    auto before = os.stat(path);
    if (!before) return std::unexpected(before.error());
    // A file the user made read-only is the user's to keep as it is.
    if (before->read_only)
        return std::unexpected(make_error(Errc::access, "convert", path, "it is read-only"));
    const std::string tmp = path + ".tmp";
    // The copy gets the file's permissions before it holds anything.
    Status w = os.write_file(tmp, "", false);
    if (w) w = os.copy_permissions(path, tmp);
    if (w) w = os.write_file(tmp, kUtf8Bom, false);
    // Piece by piece, each cut after a line end: a long log is never held
    // whole, and no character of a code page of two-byte characters is cut.
    constexpr std::size_t kPiece = 1u << 20;
    std::uint64_t offset = 0;
    std::string rest;
    while (w) {
        auto part = os.read_part(path, offset, kPiece);
        if (!part) {
            w = std::unexpected(part.error());
            break;
        }
        offset += part->size();
        const bool last = part->empty();
        rest += *part;
        std::size_t cut = rest.size();
        if (!last) {
            cut = rest.find_last_of("\r\n");
            cut = cut == std::string::npos ? 0 : cut + 1;
        }
        if (cut > 0) w = os.append_file(tmp, cp.decode(std::string_view(rest).substr(0, cut)));
        rest.erase(0, cut);
        if (last) break;
    }
    if (w) w = os.flush_files({tmp});
    if (w) w = os.rename_replace(tmp, path);
    if (!w) {
        (void)os.remove_file(tmp);
        return w;
    }
    (void)os.flush_dir(parent_of(path));
    return {};
}
}  // namespace

Status append_text(const std::string& path, std::string_view utf8, const CodePage& cp) {
    auto& os = current();
    const auto bytes = cp.encode(utf8);
    // The same bytes in either encoding (ASCII): no need to know the file's.
    if (bytes && *bytes == utf8) return os.append_file(path, utf8);
    auto head = os.read_part(path, 0, kUtf8Bom.size());
    if (!head && head.error().code != Errc::not_found) return std::unexpected(head.error());
    const std::string start = head ? *head : std::string();
    if (start == kUtf8Bom) return os.append_file(path, utf8);
    if (bytes) return os.append_file(path, *bytes);
    if (start.empty()) return os.append_file(path, std::string(kUtf8Bom) + std::string(utf8));
    if (convert_to_utf8(os, path, cp)) return os.append_file(path, utf8);
    const auto escaped = cp.encode(escape_outside(utf8, cp));
    if (!escaped)
        return std::unexpected(
            make_error(Errc::invalid, "write", path, "the text does not fit the code page"));
    return os.append_file(path, *escaped);
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
