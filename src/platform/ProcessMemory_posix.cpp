#include <fstream>
#include <string>

#include "platform/ProcessMemory.h"

namespace platform {

ProcessMemory CurrentProcessMemory() {
    ProcessMemory memory;
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        std::uint64_t value = 0;
        if (key == "VmRSS:" && status >> value) {
            memory.residentKb = value;
        } else if (key == "VmHWM:" && status >> value) {
            memory.peakResidentKb = value;
        }
        status.ignore(1 << 20, '\n');
    }
    return memory;
}

}  // namespace platform
