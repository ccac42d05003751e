#pragma once

// The peak resident size of a process and the bytes its heap holds, for tests that bound what
// a reading costs or what stays in memory.

#include <malloc.h>
#include <sys/types.h>

#include <cstddef>
#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtime's own count (GCC ships no header that declares it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

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

// The bytes allocated on the heap and not yet freed, by every thread; under a sanitizer, as its
// own allocator counts them (freed memory held back in its quarantine is not counted).
inline std::size_t heapBytesInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const auto info = ::mallinfo2();
    return info.uordblks + info.hblkhd; // in arenas, and in chunks mapped on their own
#endif
}

} // namespace tarpelix::testing
