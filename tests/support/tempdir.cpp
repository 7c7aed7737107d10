#include "support/tempdir.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
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
        std::string name = "qmtest-" + std::to_string(r.below(1'000'000'000)) + "-" +
                           std::to_string(counter++);
        std::string p = os::join(os::native().temp_dir(), name);
        if (os::native().make_dir(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only directories behind; make them writable first.
    for (auto it = fs::recursive_directory_iterator(to_fs(path_), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(to_fs(path_), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(to_fs(path_), ec);
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

void mkdirs(const std::string& path) { fs::create_directories(to_fs(path)); }

bool exists(const std::string& path) { return os::native().exists(path); }

void set_mtime(const std::string& path, long long sec) {
    auto r = os::native().set_mtime(path, os::FileTime{sec, 0});
    if (!r) throw std::runtime_error(r.error().message());
}

void remove_tree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(to_fs(path), ec);
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
