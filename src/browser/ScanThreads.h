#pragma once

// How a scan shares its work out over threads.

#include <system_error>
#include <thread>
#include <vector>

namespace scan {

// A scan is mostly waiting on stat calls: two threads halve it, more would only compete
// for the same two cores.
constexpr unsigned kThreads = 2;

// Runs `work(slot)` on this thread (slot 0) and at once on up to `threads - 1` helpers
// (slots 1 and on), and returns when every call has. Where the system has no thread to
// spare, fewer run: `work` takes its items from a counter they share, so this thread's
// call then does the rest.
template <typename Work>
void RunShared(unsigned threads, const Work& work) {
    std::vector<std::thread> helpers;
    for (unsigned slot = 1; slot < threads; ++slot) {
        try {
            helpers.emplace_back(work, slot);
        } catch (const std::system_error&) {
            break;
        }
    }
    work(0u);
    for (auto& helper : helpers) {
        helper.join();
    }
}

}  // namespace scan
