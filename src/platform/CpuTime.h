#pragma once

namespace platform {

// CPU time the calling thread has used so far, in milliseconds: unlike the wall clock, it
// does not count the time other processes had the processor.
double ThreadCpuMilliseconds();

}  // namespace platform
