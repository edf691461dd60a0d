#include "platform/PosixIo.h"
#include "platform/Process.h"
#include "platform/ProcessCensus.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

extern char** environ;

namespace platform {

namespace {

using posix::WriteAll;

static_assert(kPipeAtomicWrite <= PIPE_BUF);

// Waits until no writer holds the pipe that `readEnd` reads, at most `boundMs`. Data
// nobody has read yet does not count: only the writers do.
bool WaitForHangUp(int readEnd, int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        pollfd watched{readEnd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left));
        if (ready > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return true;
        }
        if (ready > 0) {
            // Unread output wakes poll at once; the reader takes it meanwhile.
            const timespec pause{0, 5 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
    }
}

// True when some process other than `leader` is in the process group `leader` leads.
bool GroupHasOthers(pid_t leader) {
    for (const pid_t other : ProcessIds()) {
        if (other != leader && ::getpgid(other) == leader) {
            return true;
        }
    }
    return false;
}

// Waits until the group `leader` leads has nobody in it but the leader, at most until
// `deadline`; false when somebody is still there then.
bool WaitForGroupToEmpty(pid_t leader, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (!GroupHasOthers(leader)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        const timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

// Signals the process group `leader` leads, or the leader alone where it leads none. A
// stopped process holds SIGTERM until it is continued, so SIGTERM comes with SIGCONT.
bool SignalGroup(pid_t leader, int signal) {
    const auto send = [leader](int sig) {
        return ::kill(-leader, sig) == 0 || ::kill(leader, sig) == 0;
    };
    const bool sent = send(signal);
    if (sent && signal == SIGTERM) {
        (void)send(SIGCONT);
    }
    return sent;
}

// Every child not yet reaped, so that shutdown can end players nobody holds any more.
std::mutex& RegistryLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
std::vector<std::weak_ptr<ChildProcess>>& Registry() {
    static auto* children = new std::vector<std::weak_ptr<ChildProcess>>;
    return *children;
}

void Register(const ProcessHandle& child) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto& children = Registry();
    std::erase_if(children, [](const std::weak_ptr<ChildProcess>& c) { return c.expired(); });
    children.push_back(child);
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Moves `fd` above the three standard descriptors so that the dup2 calls that set up the
// child's standard streams never overwrite one another. Child side: async-signal-safe.
int AboveStandardStreams(int fd) {
    if (fd > STDERR_FILENO) {
        return fd;
    }
    return ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

// Runs in the forked child before exec: only async-signal-safe calls from here on.
[[noreturn]] void ExecChild(const char* path, char* const* argv, int input, int output,
                            pid_t parent, int errorPipe) {
    int error = 0;
    // A session of our own: no terminal, and our signals never reach the player's group.
    if (::setsid() < 0) {
        error = errno;
    }
    // The player must not outlive the program, even when the program crashes.
    if (error == 0 && ::prctl(PR_SET_PDEATHSIG, SIGTERM) < 0) {
        error = errno;
    }
    // The parent may have died before prctl took effect; nobody would send the signal then.
    if (error == 0 && ::getppid() != parent) {
        ::_exit(127);
    }
    input = error == 0 ? AboveStandardStreams(input) : -1;
    output = error == 0 ? AboveStandardStreams(output) : -1;
    if (error == 0 && (input < 0 || output < 0)) {
        error = errno;
    }
    if (error == 0 && (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
                       ::dup2(output, STDERR_FILENO) < 0)) {
        error = errno;
    }
    if (error == 0) {
        // Ignored signals and the blocked mask survive exec; the player gets clean defaults.
        struct sigaction deflt {};
        deflt.sa_handler = SIG_DFL;
        for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) {
            ::sigaction(sig, &deflt, nullptr);
        }
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // Descriptors other code opened without close-on-exec stay out of the player.
        (void)::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(path, argv, environ);
        error = errno;
    }
    (void)WriteAll(errorPipe, reinterpret_cast<const char*>(&error), sizeof error);
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(pid_t processId, int outputWatch) : pid(processId), watch(outputWatch) {}

ChildProcess::~ChildProcess() {
    if (watch >= 0) {
        ::close(watch);
    }
}

int ChildProcess::Wait() {
    {
        std::lock_guard<std::mutex> guard(lock);
        if (reaped) {
            return -1;
        }
    }
    // Wait without reaping: until we reap below, the id stays ours (a zombie), so a
    // Terminate() racing with the end can never signal a stranger.
    siginfo_t info{};
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    } while (rc < 0 && errno == EINTR);

    // The child led a session of its own; anything it started and left behind there would
    // keep its output pipe open and outlive it. While the zombie holds the id, the group
    // id cannot belong to anyone else.
    (void)SignalGroup(pid, SIGTERM);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kGroupGraceMs);
    // A helper that ignores SIGTERM and holds the output pipe would keep the reader
    // waiting for ever; one that holds nothing would simply outlive us. Either is forced
    // after a bounded wait. Where nothing was left, nothing is waited for.
    bool left = false;
    if (watch >= 0) {
        left = !WaitForHangUp(watch, kGroupGraceMs);
        ::close(watch);
        watch = -1;
    }
    if (left || !WaitForGroupToEmpty(pid, deadline)) {
        (void)::kill(-pid, SIGKILL);
    }
    std::lock_guard<std::mutex> guard(lock);
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    reaped = true;
    return done == pid ? status : -1;
}

bool ChildProcess::HasEnded() const {
    std::lock_guard<std::mutex> guard(lock);
    return reaped;
}

bool ChildProcess::Terminate() {
    return Signal(SIGTERM);
}

bool ChildProcess::Kill() {
    return Signal(SIGKILL);
}

bool ChildProcess::Continue() {
    return Signal(SIGCONT);
}

bool ChildProcess::Signal(int signal) {
    std::lock_guard<std::mutex> guard(lock);
    if (reaped) {
        return false;  // the pid may belong to somebody else by now
    }
    // The child leads a process group of its own (its session): whatever it started, and
    // may still hold its pipes, goes with it.
    return SignalGroup(pid, signal);
}

bool CreatePipe(PipeEnd& readEnd, PipeEnd& writeEnd, bool nonBlockingWrite) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    // Each end is an open file of its own, so the flag leaves the reader's end blocking.
    if (nonBlockingWrite) {
        const int flags = ::fcntl(ends[1], F_GETFL);
        if (flags < 0 || ::fcntl(ends[1], F_SETFL, flags | O_NONBLOCK) != 0) {
            ::close(ends[0]);
            ::close(ends[1]);
            return false;
        }
    }
    readEnd = ends[0];
    writeEnd = ends[1];
    return true;
}

void ClosePipe(PipeEnd end) {
    if (end != kNoPipe) {
        ::close(end);
    }
}

bool WritePipe(PipeEnd end, const char* data, std::size_t size) {
    // Block SIGPIPE on this thread for the write; if the write raises one, take it off the
    // pending set again so that it is never delivered. A SIGPIPE that was already pending
    // before belongs to someone else and is left alone.
    sigset_t pipeOnly, previous, pending;
    ::sigemptyset(&pipeOnly);
    ::sigaddset(&pipeOnly, SIGPIPE);
    ::sigpending(&pending);
    const bool wasPending = ::sigismember(&pending, SIGPIPE) == 1;
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);

    const bool ok = WriteAll(end, data, size);
    const int error = errno;
    if (!ok && error == EPIPE && !wasPending) {
        const timespec zero{0, 0};
        int taken;
        do {
            taken = ::sigtimedwait(&pipeOnly, nullptr, &zero);
        } while (taken < 0 && errno == EINTR);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

long ReadPipe(PipeEnd end, char* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(end, buffer, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

std::string FindExecutable(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = dirs.find(':', start);
        const std::string dir =
            dirs.substr(start, colon == std::string::npos ? colon : colon - start);
        // An empty PATH entry means the current folder.
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        if (colon == std::string::npos) {
            return {};
        }
        start = colon + 1;
    }
}

bool ExecutableExists(const std::string& path) {
    if (path.find('/') == std::string::npos) {
        return !FindExecutable(path).empty();
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

ProcessHandle SpawnProcess(const std::vector<std::string>& argv, PipeEnd input, PipeEnd output,
                           PipeEnd outputReader) {
    if (argv.empty()) {
        return nullptr;
    }
    const std::string path = FindExecutable(argv[0]);
    if (path.empty()) {
        return nullptr;
    }
    // Everything the child needs is built before fork: after it, no allocation.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        return nullptr;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(errorPipe[0]);
        ExecChild(path.c_str(), args.data(), input, output, parent, errorPipe[1]);
    }
    ::close(errorPipe[1]);
    if (pid < 0) {
        ::close(errorPipe[0]);
        return nullptr;
    }
    // The error pipe closes on a successful exec without a byte; a failed exec reports.
    int childError = 0;
    ssize_t n;
    do {
        n = ::read(errorPipe[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    ::close(errorPipe[0]);

    if (n != 0) {
        std::make_shared<ChildProcess>(pid)->Wait();  // reap the failed child at once
        return nullptr;
    }
    // A copy of its own: the caller's reader closes its end whenever it likes.
    const int watch =
        outputReader == kNoPipe ? -1 : ::fcntl(outputReader, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    auto child = std::make_shared<ChildProcess>(pid, watch);
    Register(child);
    return child;
}

int SignalLiveChildren(bool force) {
    std::vector<ProcessHandle> live;
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        for (const auto& weak : Registry()) {
            if (ProcessHandle child = weak.lock()) {
                live.push_back(std::move(child));
            }
        }
    }
    int signalled = 0;
    for (const ProcessHandle& child : live) {
        signalled += (force ? child->Kill() : child->Terminate()) ? 1 : 0;
    }
    return signalled;
}

}  // namespace platform
