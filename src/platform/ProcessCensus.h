#pragma once

#include <sys/types.h>

#include <vector>

namespace platform {

// What this process holds right now, as the system counts it: open descriptors, threads
// and child processes (those not yet reaped included). -1 where the system does not say.
struct ProcessCensus {
    int descriptors = -1;
    int threads = -1;
    int children = -1;
};

ProcessCensus TakeProcessCensus();

// The ids of every process the system shows right now (other users' too, where it shows
// them); empty where it does not say.
std::vector<pid_t> ProcessIds();

}  // namespace platform
