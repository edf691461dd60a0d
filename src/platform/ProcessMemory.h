#pragma once

#include <cstdint>

namespace platform {

// This process's memory as the system counts it, in kB: resident now and the peak
// resident so far. Zero where the system does not say.
struct ProcessMemory {
    std::uint64_t residentKb = 0;
    std::uint64_t peakResidentKb = 0;
};

ProcessMemory CurrentProcessMemory();

}  // namespace platform
