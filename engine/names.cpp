#include "engine/names.h"

#include <algorithm>

#include "engine/host.h"

namespace qm::engine {

std::vector<std::string> FileListing::names() const {
    std::vector<std::string> out;
    out.reserve(size());
    for (std::size_t i = 0; i < size(); ++i) out.push_back(name(i));
    return out;
}

namespace {

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool listed_before(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    const char* pa = a.data();
    const char* pb = b.data();
    // Bytes alike are alike folded: fold only where they differ. Names in
    // one directory often share long beginnings, and sorting a large one
    // compares them millions of times.
    for (std::size_t i = 0; i < n; ++i) {
        i = static_cast<std::size_t>(std::mismatch(pa + i, pa + n, pb + i).first - pa);
        if (i == n) break;
        const char ca = fold(pa[i]), cb = fold(pb[i]);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::uint64_t listed_key(const std::string& name) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i)
        key = key << 8 | static_cast<unsigned char>(i < name.size() ? fold(name[i]) : '\0');
    return key;
}

}  // namespace qm::engine

namespace qm::engine::detail {

namespace {
constexpr std::size_t kPiece = 64 * 1024;
constexpr const char kHex[] = "0123456789abcdef";
}  // namespace

bool is_list_file_name(const std::string& n) {
    if (n.size() != 12 || n.compare(8, 4, ".DIR") != 0) return false;
    return std::all_of(n.begin(), n.begin() + 8, [](char c) { return c >= '0' && c <= '7'; });
}

std::string make_list_file_name(os::Random& random) {
    std::string n;
    for (int i = 0; i < 8; ++i) n += static_cast<char>('0' + random.below(8));
    return n + ".DIR";
}

bool plainly_apart(std::string_view name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    return std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return c >= ' ' && c < '~'; });
}

bool is_temp_name(const std::string& n) {
    if (n.size() != 17 || n.compare(0, 4, ".qm-") != 0 || n.compare(12, 5, ".part") != 0)
        return false;
    return std::all_of(n.begin() + 4, n.begin() + 12,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string make_temp_name(os::Random& random) {
    std::string n = ".qm-";
    for (int i = 0; i < 8; ++i) n += kHex[random.below(16)];
    return n + ".part";
}

std::string trim_blanks(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::int64_t stored_second(const TimeRule& rule, os::FileTime t) {
    const std::int64_t step = rule.step;
    auto floor_to = [step](std::int64_t s) {
        const std::int64_t m = s % step;
        return m < 0 ? s - m - step : s - m;
    };
    const std::int64_t down = floor_to(t.sec);
    switch (rule.round) {
        case TimeRule::Round::down:
            return down;
        case TimeRule::Round::up:
            return down == t.sec && t.nsec == 0 ? down : down + step;
        case TimeRule::Round::nearest: {
            // Half a step or more rounds up.
            const std::int64_t into = (t.sec - down) * 1'000'000'000 + t.nsec;
            return into * 2 >= step * 1'000'000'000 ? down + step : down;
        }
    }
    return down;
}

const std::vector<os::FileTime>& probe_times() {
    // Fractions that tell every rule below apart; the base second is even
    // and a multiple of ten minutes, so no volume's date limits interfere.
    static const std::vector<os::FileTime> times{
        {1'200'000'000, 300'000'000}, {1'200'000'001, 300'000'000}, {1'200'000'001, 700'000'000}};
    return times;
}

std::optional<TimeRule> infer_rule(const std::vector<os::FileTime>& stored) {
    const auto& asked = probe_times();
    if (stored.size() != asked.size()) return std::nullopt;
    using R = TimeRule::Round;
    for (int step : {1, 2}) {
        for (R round : {R::down, R::up, R::nearest}) {
            const TimeRule rule{step, round};
            bool fits = true;
            for (std::size_t i = 0; i < asked.size() && fits; ++i)
                fits = stored_second(rule, asked[i]) == stored[i].sec;
            if (fits) return rule;
        }
    }
    return std::nullopt;
}

bool LineReader::fill() {
    if (eof_ || error_) return false;
    auto part = os::current().read_part(path_, offset_, kPiece);
    if (!part) {
        error_ = part.error();
        return false;
    }
    if (part->empty()) {
        eof_ = true;
        return false;
    }
    offset_ += part->size();
    buf_.erase(0, pos_);
    pos_ = 0;
    buf_ += *part;
    return true;
}

std::optional<std::string> LineReader::next() {
    for (;;) {
        const auto end = buf_.find_first_of("\r\n", pos_);
        if (end == std::string::npos) {
            if (fill()) continue;
            // The last line may lack its end; a failed read ends the lines.
            if (error_ || pos_ >= buf_.size()) return std::nullopt;
            std::string line = buf_.substr(pos_);
            pos_ = buf_.size();
            return line;
        }
        // A CR that ends the piece may be the first half of a CR LF.
        if (buf_[end] == '\r' && end + 1 == buf_.size() && fill()) continue;
        std::string line = buf_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (buf_[end] == '\r' && pos_ < buf_.size() && buf_[pos_] == '\n') ++pos_;
        return line;
    }
}

}  // namespace qm::engine::detail

namespace qm::engine::detail {

namespace {

char32_t fold_point(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    // Latin Extended-A: pairs, the capital first, shifted by one at 0x139.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c & 1 ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;  // full-width Latin
    return c;
}

void put_point(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string fold_case(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto b = static_cast<unsigned char>(name[i]);
        auto cont = [&](std::size_t k) {
            return i + k < name.size() && (static_cast<unsigned char>(name[i + k]) & 0xC0) == 0x80;
        };
        // Two- and three-byte sequences hold every letter folded here; the
        // rest is kept byte for byte.
        if (b >= 0xC2 && b < 0xE0 && cont(1)) {
            const char32_t c = (b & 0x1Fu) << 6 | (static_cast<unsigned char>(name[i + 1]) & 0x3Fu);
            put_point(out, fold_point(c));
            i += 2;
        } else if (b >= 0xE0 && b < 0xF0 && cont(1) && cont(2)) {
            const char32_t c = (b & 0x0Fu) << 12 |
                               (static_cast<unsigned char>(name[i + 1]) & 0x3Fu) << 6 |
                               (static_cast<unsigned char>(name[i + 2]) & 0x3Fu);
            if (c < 0x800) {
                out.append(name.substr(i, 3));
            } else {
                put_point(out, fold_point(c));
            }
            i += 3;
        } else {
            out += static_cast<char>(b < 0x80 ? fold_point(b) : b);
            ++i;
        }
    }
    return out;
}

}  // namespace qm::engine::detail
