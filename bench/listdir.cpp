// Prints how long one read of a directory with every file's length and
// time (Os::list_dir_detailed) takes, as the program reads a source or a
// target directory.
//
//   quillmere-listdir DIR [REPEAT]      default 5: every time, and the median
//   quillmere-listdir --make DIR FILES  FILES files of 100 bytes in DIR
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using namespace qm;
using Clock = std::chrono::steady_clock;

int make(const std::string& dir, int files) {
    if (auto r = os::native().make_dir(dir); !r && r.error().code != os::Errc::exists) {
        std::fprintf(stderr, "%s: %s\n", dir.c_str(), r.error().message().c_str());
        return 1;
    }
    const std::string data(100, 'x');
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/f%06d.txt", i);
        if (auto r = os::native().write_file(dir + name, data, false); !r) {
            std::fprintf(stderr, "%s%s: %s\n", dir.c_str(), name, r.error().message().c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--make") return make(argv[2], std::atoi(argv[3]));
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s DIR [REPEAT] | --make DIR FILES\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const int repeat = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<double> ms;
    std::size_t entries = 0, files = 0;
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = Clock::now();
        auto list = os::native().list_dir_detailed(dir, {});
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (!list) {
            std::fprintf(stderr, "%s: %s\n", dir.c_str(), list.error().message().c_str());
            return 1;
        }
        entries = list->size();
        files = static_cast<std::size_t>(std::count_if(
            list->begin(), list->end(), [](const os::DirEntry& e) { return e.size > 0; }));
    }
    std::printf("list_dir_detailed %s: %zu entries (%zu with a length); ms:", dir.c_str(), entries,
                files);
    for (const double m : ms) std::printf(" %.1f", m);
    std::sort(ms.begin(), ms.end());
    std::printf("; median %.1f ms\n", ms[(ms.size() - 1) / 2]);
    return 0;
}
