// Names the engine makes in other people's directories, and reading its
// list files line by line in bounded memory. Internal to the engine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A name as a volume that ignores case may take it: letters of the Latin,
// Greek and Cyrillic alphabets lower-cased, anything else as it is. Errs
// towards folding more than a volume does: two names taken for one stay
// apart on the target, never overwrite each other.
std::string fold_case(std::string_view name);

// Whether no volume takes the name for another whose folded name differs:
// printable ASCII alone, no "~" (a short name may stand for a long one)
// and no trailing dot or blank (dropped by some volumes).
bool plainly_apart(std::string_view name);

// How a volume stores a modification time, as far as whole seconds go:
// rounded down, up or to the nearest multiple of step seconds. Exact
// volumes store {1, down}: the second the time falls in.
struct TimeRule {
    enum class Round { down, up, nearest };
    int step = 1;
    Round round = Round::down;
    friend bool operator==(const TimeRule&, const TimeRule&) = default;
};
// What a run learns of a target volume by writing a probe file there:
// how it stores times, and whether it takes two names that differ only in
// case for one.
struct VolumeRule {
    TimeRule time;
    bool folds = false;
    // Each call waits long on an answer (a network share): independent
    // calls are better made several at once.
    bool slow = false;
};
// The second a volume with this rule stores for t.
std::int64_t stored_second(const TimeRule& rule, os::FileTime t);
// The times a volume is asked to store to tell its rule.
const std::vector<os::FileTime>& probe_times();
// The rule under which a volume stored stored[i] for probe_times()[i];
// nothing when no rule explains every one.
std::optional<TimeRule> infer_rule(const std::vector<os::FileTime>& stored);

// A list file's lines (CR LF, LF or CR ends), read a piece at a time. List
// files hold UTF-8 on every system, so any name survives them.
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
