// The process's peak resident memory, in KiB, from the kernel's account of
// it (-1 where there is none), for the benchmark's figures.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace qm::bench {

inline long peak_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace qm::bench
