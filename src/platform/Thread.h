#pragma once

#include <atomic>
#include <chrono>

namespace platform {

// A worker thread that owns itself: it runs Execute() once on a detached thread and
// deletes its object when Execute() returns. A derived class calls Start() as the last
// step of its own constructor (and is final), so Execute() never sees a half-built
// object. Nobody may touch the object after it can have finished; the owner keeps only
// a non-owning reference and drops it when it asks the thread to stop.
class Thread {
  public:
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // The stop request: Execute() looks at it when it chooses; it interrupts nothing.
    void Terminate() { terminated.store(true, std::memory_order_release); }

  protected:
    Thread() = default;
    virtual ~Thread() = default;

    void Start();
    bool Terminated() const { return terminated.load(std::memory_order_acquire); }
    virtual void Execute() = 0;

  private:
    std::atomic<bool> terminated{false};
};

// How many Thread objects have been started and not yet deleted.
int LiveThreadCount();

// Called on the user interface thread at shutdown: waits until every Thread has
// finished, at most `bound`, running the calls workers hand over through Synchronize
// meanwhile (a worker blocked in its hand-off would otherwise never finish). Returns true
// when none is left.
bool WaitForThreads(std::chrono::milliseconds bound);

void SleepMilliseconds(unsigned milliseconds);

// Makes the calling thread yield the processor to the program's other threads (and the
// user's other programs): for background work that nobody waits on.
void LowerCurrentThreadPriority();

}  // namespace platform
