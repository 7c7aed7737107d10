#include "support/tempdir.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "platform/platform.h"

namespace qm::test {

namespace fs = std::filesystem;

namespace {
std::atomic<int> counter{0};

fs::path to_fs(const std::string& utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}
}  // namespace

TempDir::TempDir() {
    os::Random r;
    r.seed_from_time_of_day();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name =
            "qmtest-" + std::to_string(r.below(1'000'000'000)) + "-" + std::to_string(counter++);
        std::string p = os::join(os::native().temp_dir(), name);
        if (os::native().make_dir(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    remove_tree(path_);
}

std::string TempDir::operator/(const std::string& rel) const {
    return os::join(path_, native_path(rel));
}

std::string native_path(const std::string& rel) {
    std::string s = rel;
    std::replace(s.begin(), s.end(), '/', os::separator());
    return s;
}

void write(const std::string& path, const std::string& data) {
    auto r = os::native().write_file(path, data, false);
    if (!r) throw std::runtime_error(r.error().message());
}

std::string read(const std::string& path) {
    auto r = os::native().read_file(path);
    if (!r) throw std::runtime_error(r.error().message());
    return *r;
}

// Through the platform layer: MinGW's std::filesystem fails on paths longer
// than MAX_PATH.
void mkdirs(const std::string& path) {
    const char sep = os::separator();
    for (std::size_t pos = path.find(sep, 1);; pos = path.find(sep, pos + 1)) {
        const std::string part = path.substr(0, pos);
        if (!part.empty() && part.back() != ':' && !os::native().exists(part)) {
            auto r = os::native().make_dir(part);
            if (!r && !os::native().exists(part)) throw std::runtime_error(r.error().message());
        }
        if (pos == std::string::npos) break;
    }
}

bool exists(const std::string& path) {
    return os::native().exists(path);
}

void set_mtime(const std::string& path, long long sec) {
    auto r = os::native().set_mtime(path, os::FileTime{sec, 0});
    if (!r) throw std::runtime_error(r.error().message());
}

namespace {
bool inside(const std::string& path, const std::string& dir) {
    std::string p = os::with_separator(path), d = os::with_separator(dir);
    if (os::case_insensitive_names()) {
        auto lower = [](std::string s) {
            for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        p = lower(p);
        d = lower(d);
    }
    return p.compare(0, d.size(), d) == 0;
}

void remove_below(const std::string& dir) {
    auto entries = os::native().list_dir(dir);
    if (!entries) return;
    for (const auto& e : *entries) {
        const std::string p = os::join(dir, e.name);
        if (e.kind == os::Kind::dir) {
            remove_below(p);
            (void)os::native().remove_dir(p);
        } else if (!os::native().remove_file(p)) {
            // A link to a directory on Windows goes as a directory.
            (void)os::native().remove_dir(p);
        }
    }
}
}  // namespace

void remove_tree(const std::string& path) {
    if (path.empty()) return;
    // Tests may leave read-only entries behind; make them writable first.
    // Links are neither followed nor changed.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(to_fs(path), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec) && (it->is_directory(ec) || it->is_regular_file(ec)))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(to_fs(path), fs::perms::owner_all, fs::perm_options::add, ec);
    // Windows keeps a working directory from being removed: step out.
    if (auto cwd = os::native().current_dir(); cwd && inside(*cwd, path))
        (void)os::native().set_current_dir(os::native().temp_dir());
    // Removed through the platform layer, which never follows a link and
    // takes paths of any length.
    auto st = os::native().stat(path);
    if (!st) return;
    if (st->kind == os::Kind::dir) {
        remove_below(path);
        (void)os::native().remove_dir(path);
    } else {
        (void)os::native().remove_file(path);
    }
}

std::vector<std::string> names(const std::string& dir) {
    std::vector<std::string> out;
    auto r = os::native().list_dir(dir);
    if (!r) return out;
    for (auto& e : *r) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace qm::test
