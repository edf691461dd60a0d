#pragma once

#include <sys/types.h>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// A pipe end as the operating system numbers it; kNoPipe when there is none.
using PipeEnd = int;
inline constexpr PipeEnd kNoPipe = -1;

// One child process we started. The handle is shared between whoever drives the child
// and whoever waits for it; the process id is never used for a signal once the child has
// been reaped, so a recycled id can never hit an unrelated process.
class ChildProcess {
  public:
    // `outputWatch`: a read end of the child's output pipe that the handle owns (kNoPipe
    // for none); see Wait().
    explicit ChildProcess(pid_t pid, int outputWatch = -1);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t Pid() const { return pid; }

    // Blocks until the child has ended, ends what it left in its session, then reaps it.
    // What it left gets SIGTERM; when anything of the group is still there kGroupGraceMs
    // later (or still holds the output pipe the handle watches), the group gets SIGKILL.
    // Until the reap the group's id stays the child's, so neither signal can reach anyone
    // else. Returns the wait status, or -1 when the child had been reaped already. Only
    // one thread may wait.
    int Wait();

    static constexpr int kGroupGraceMs = 1000;

    // True once Wait() has reaped the child.
    bool HasEnded() const;

    // Ask the child and what it started in its session to end (SIGTERM, continuing them
    // too: a stopped process holds SIGTERM until it runs again), or force them (SIGKILL).
    // False when the child has ended.
    bool Terminate();
    bool Kill();
    // Lets the child and its session run again if they were stopped (SIGCONT), so that
    // they read what they were sent. False when the child has ended.
    bool Continue();

  private:
    bool Signal(int signal);

    const pid_t pid;
    int watch;
    mutable std::mutex lock;
    bool reaped = false;
};

using ProcessHandle = std::shared_ptr<ChildProcess>;

// Creates a pipe whose two ends are closed on exec. With `nonBlockingWrite`, writes to
// `writeEnd` never wait for room (see WritePipe). False when the system refuses.
bool CreatePipe(PipeEnd& readEnd, PipeEnd& writeEnd, bool nonBlockingWrite = false);

// The most a write to a pipe can carry as one piece: a write of this size or less is
// never interleaved with another and, on a non-blocking end, lands whole or not at all.
inline constexpr std::size_t kPipeAtomicWrite = 4096;

// Closes one pipe end (retrying nothing: a close interrupted by a signal has still
// released the descriptor on Linux). Does nothing for kNoPipe.
void ClosePipe(PipeEnd end);

// Writes all of `data`. Returns false when the reader has gone or the write fails; a
// reader that has gone never raises SIGPIPE in this process. On a non-blocking end the
// write fails at once where the pipe has no room; one of at most kPipeAtomicWrite bytes
// then leaves nothing in the pipe.
bool WritePipe(PipeEnd end, const char* data, std::size_t size);

// One read of at most `size` bytes; blocks until data arrives or every writer has gone.
// Returns the count read, 0 at the end of the stream, -1 on failure.
long ReadPipe(PipeEnd end, char* buffer, std::size_t size);

// The executable `name` names: a name with a "/" is taken as it is (relative to the
// current folder), a name without one is looked up in PATH. Empty when nothing is found.
std::string FindExecutable(const std::string& name);

// Whether a file (anything but a folder) exists at `path`; a name without a "/" is looked
// up in PATH.
bool ExecutableExists(const std::string& path);

// Starts argv[0] (looked up as FindExecutable does) with the arguments exactly as given,
// no shell. Its standard input reads `input`, its standard output and standard error both
// write `output`. The child runs in a session of its own and is sent SIGTERM when the
// thread that started it ends, so it cannot outlive a program that crashes. Given the
// read end of `output` as `outputReader`, the handle watches that pipe when the child
// ends (see ChildProcess::Wait); the caller keeps its own end. Returns an
// empty handle when the program cannot be started (not found, not executable, no
// resources).
ProcessHandle SpawnProcess(const std::vector<std::string>& argv, PipeEnd input, PipeEnd output,
                           PipeEnd outputReader = kNoPipe);

// Sends SIGTERM (or SIGKILL when `force`) to every child started by SpawnProcess that has
// not been reaped yet. Returns how many were signalled.
int SignalLiveChildren(bool force);

}  // namespace platform
