#include "platform/Synchronize.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace platform {

namespace {

struct Pending {
    const std::function<void()>* call;
    bool done = false;
};

// Never destroyed, like the thread counter: workers may use it up to their last moment.
struct HandOff {
    std::mutex lock;
    std::condition_variable ran;
    std::deque<Pending*> queue;
    WakeHook wake;
};

HandOff& State() {
    static auto* state = new HandOff;
    return *state;
}

}  // namespace

void SetSynchronizeHook(WakeHook wake) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().wake = std::move(wake);
}

void Synchronize(const std::function<void()>& call) {
    HandOff& state = State();
    Pending pending{&call};
    WakeHook wake;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.queue.push_back(&pending);
        wake = state.wake;
    }
    if (wake) {
        wake();
    }
    std::unique_lock<std::mutex> guard(state.lock);
    state.ran.wait(guard, [&pending] { return pending.done; });
}

int RunSynchronized() {
    HandOff& state = State();
    int count = 0;
    for (;;) {
        Pending* next;
        {
            std::lock_guard<std::mutex> guard(state.lock);
            if (state.queue.empty()) {
                return count;
            }
            next = state.queue.front();
            state.queue.pop_front();
        }
        (*next->call)();
        ++count;
        {
            std::lock_guard<std::mutex> guard(state.lock);
            next->done = true;
        }
        state.ran.notify_all();
    }
}

}  // namespace platform
