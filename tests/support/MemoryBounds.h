#pragma once

#include <malloc.h>

#include <cstring>
#include <fstream>
#include <string>

namespace klangor {

// The memory bounds tests hold the programs to are the plain build's. Under the address checker every
// allocation also costs its shadow, its red zones and its time in quarantine, so there the bounds
// stretch by this much; what they catch (gigabytes for a whole song or one slice per sample) stays far
// above them either way.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryBoundFactor = 4;
#else
constexpr long kMemoryBoundFactor = 1;
#endif

// A field of this process's /proc status in KiB ("VmRSS:", "VmHWM:"), 0 when it is not there.
inline long StatusKiB(const char *szField) {
    std::ifstream status("/proc/self/status");
    for (std::string strLine; std::getline(status, strLine);) {
        if (strLine.rfind(szField, 0) == 0) {
            return std::stol(strLine.substr(std::strlen(szField)));
        }
    }
    return 0;
}

// This process's resident memory, less what the allocator has had back and merely keeps for reuse
// (a bank's instruments let go at a reset stay resident otherwise).
inline long ResidentKiB() {
    malloc_trim(0);
    return StatusKiB("VmRSS:");
}

inline long ResidentMiB() {
    return ResidentKiB() / 1024;
}

}  // namespace klangor
