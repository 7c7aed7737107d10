#include "engine/names.h"

#include <algorithm>

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

bool is_temp_name(const std::string& n) {
    if (n.size() != 17 || n.compare(0, 4, ".qm-") != 0 || n.compare(12, 5, ".part") != 0)
        return false;
    return std::all_of(n.begin() + 4, n.begin() + 12, [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
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
            return os::text_from_file(line);
        }
        // A CR that ends the piece may be the first half of a CR LF.
        if (buf_[end] == '\r' && end + 1 == buf_.size() && fill()) continue;
        std::string line = buf_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (buf_[end] == '\r' && pos_ < buf_.size() && buf_[pos_] == '\n') ++pos_;
        return os::text_from_file(line);
    }
}

}  // namespace qm::engine::detail
