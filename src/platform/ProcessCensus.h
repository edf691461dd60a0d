#pragma once

namespace platform {

// What this process holds right now, as the system counts it: open descriptors, threads
// and child processes (those not yet reaped included). -1 where the system does not say.
struct ProcessCensus {
    int descriptors = -1;
    int threads = -1;
    int children = -1;
};

ProcessCensus TakeProcessCensus();

}  // namespace platform
