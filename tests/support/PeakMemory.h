#pragma once

// The peak resident size of a process, for tests that bound what a reading costs.

#include <malloc.h>
#include <sys/types.h>

#include <fstream>
#include <string>

namespace tarpelix::testing {

// The peak resident size (VmHWM) of `pid`, or of this process, in kB; -1 when unknown.
inline long peakResidentKB(pid_t pid = 0) {
    std::ifstream status(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return -1;
}

// Gives back the heap's free memory and resets this process's peak (clear_refs 5), so what the
// peak grows by from here is the work that follows, not room earlier work left to reuse.
inline long resetPeakResidentKB() {
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return peakResidentKB();
}

} // namespace tarpelix::testing
