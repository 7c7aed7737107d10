#include "ui/instance.h"

#include <chrono>
#include <cstdint>

namespace qm::ui {

std::string instanceKey(const std::string& programDir) {
    // FNV-1a: the same in every build, so an older and a newer program in
    // one folder still find each other.
    std::uint64_t h = 14695981039346656037ull;
    const bool fold = os::case_insensitive_names();
    for (unsigned char c : programDir) {
        if (fold && c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        h = (h ^ c) * 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string key(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4) key[static_cast<std::size_t>(i)] = digits[h & 15];
    return key;
}

Claim claimInstance(const std::string& programDir, const std::function<bool()>& wake,
                    unsigned patienceMs) {
    auto& os = os::current();
    const std::string path = os::join(programDir, kInstanceLockName);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    for (;;) {
        auto lock = os.lock_file(path, true, false);
        if (!lock) return {Start::run, nullptr, lock.error()};
        if (*lock) return {Start::run, std::move(*lock), std::nullopt};
        if (wake()) return {Start::woken, nullptr, std::nullopt};
        if (std::chrono::steady_clock::now() >= deadline) return {Start::unreached, nullptr, {}};
        os.sleep_ms(100);
    }
}

}  // namespace qm::ui
