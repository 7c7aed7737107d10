// Names the engine makes in other people's directories, and reading its
// list files line by line in bounded memory. Internal to the engine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace qm::engine::detail {

// A directory list file: eight digits 0-7 and ".DIR".
bool is_list_file_name(const std::string& name);
std::string make_list_file_name(os::Random& random);

// A copy in progress: ".qm-" eight hex digits ".part". The leading dot
// keeps it out of every file list.
bool is_temp_name(const std::string& name);
std::string make_temp_name(os::Random& random);

// Leading and trailing blanks removed.
std::string trim_blanks(const std::string& s);

// A text file's lines (CR LF, LF or CR ends), read a piece at a time.
class LineReader {
public:
    explicit LineReader(std::string path) : path_(std::move(path)) {}
    // The next line in the program's text, or nothing at the end or on a
    // failure (then error() says why).
    std::optional<std::string> next();
    const std::optional<os::Error>& error() const { return error_; }

private:
    bool fill();

    std::string path_;
    std::string buf_;
    std::size_t pos_ = 0;
    std::uint64_t offset_ = 0;
    bool eof_ = false;
    std::optional<os::Error> error_;
};

}  // namespace qm::engine::detail
