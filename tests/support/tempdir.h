// Test helpers: a fresh temporary directory per test, and small file tools
// that go through the platform layer so they work on both backends.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace qm::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Without a trailing separator.
    const std::string& path() const { return path_; }
    // path() joined with a relative name ("a/b" uses the native separator).
    std::string operator/(const std::string& rel) const;

private:
    std::string path_;
};

// rel may use '/' on every platform; it is converted.
std::string native_path(const std::string& rel);

void write(const std::string& path, const std::string& data);
std::string read(const std::string& path);
void mkdirs(const std::string& path);
bool exists(const std::string& path);
// Sets a file's modification time (seconds since the epoch).
void set_mtime(const std::string& path, long long sec);
// Removes a tree; never follows links.
void remove_tree(const std::string& path);
// Names in a directory, sorted.
std::vector<std::string> names(const std::string& dir);

}  // namespace qm::test
