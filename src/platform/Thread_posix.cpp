#include "platform/Thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Synchronize.h"

namespace platform {

namespace {

// Never destroyed: a worker may still be leaving its last lines of code while static
// destructors run.
struct LiveThreads {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
};

LiveThreads& Live() {
    static auto* live = new LiveThreads;
    return *live;
}

void Finished() {
    LiveThreads& live = Live();
    std::lock_guard<std::mutex> guard(live.lock);
    --live.count;
    live.changed.notify_all();
}

}  // namespace

void Thread::Start() {
    {
        std::lock_guard<std::mutex> guard(Live().lock);
        ++Live().count;
    }
    try {
        std::thread([this] {
            Execute();
            delete this;
            Finished();
        }).detach();
    } catch (const std::system_error&) {
        // No thread could be made (out of resources). Nothing is thrown at the caller: the
        // object stays as it is and never runs; its owner's reference stays valid.
        Finished();
    }
}

int LiveThreadCount() {
    std::lock_guard<std::mutex> guard(Live().lock);
    return Live().count;
}

bool WaitForThreads(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    LiveThreads& live = Live();
    for (;;) {
        RunSynchronized();
        std::unique_lock<std::mutex> guard(live.lock);
        if (live.count == 0) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        // Short slices: a worker asking for a hand-off does not wake this wait.
        live.changed.wait_for(guard, std::min<std::chrono::steady_clock::duration>(
                                         deadline - now, std::chrono::milliseconds(2)));
    }
}

void SleepMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void LowerCurrentThreadPriority() {
    // On Linux a nice value belongs to the thread whose id is given; the user interface
    // thread keeps its own.
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10) != 0) {
        // not permitted or not supported: the thread simply keeps its priority
    }
}

}  // namespace platform
