#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "cache/CacheEntry.h"
#include "media/FactsIndex.h"
#include "media/MediaFacts.h"

namespace media {

struct Job {
    std::uint64_t ticket = 0;
    cache::Entry entry;
};

struct Result {
    std::uint64_t ticket = 0;
    std::string file;  // the entry's own file
    Facts facts;
    std::string thumbnail;     // the large thumbnail's path; empty when there is none
    bool remembered = false;   // from the index and the thumbnail cache, nothing decoded
    bool interrupted = false;  // paused or cancelled before it ended: nothing is known
};

// One thread that reads the facts of the entries given to it, one at a time, in order.
// Facts already known from an earlier run come from the index and the thumbnail cache
// without decoding; new ones go into both. Every call is for one owner thread (the user
// interface); `done` is called on the worker's thread.
class FactsWorker {
  public:
    struct Options {
        std::string cacheHome;  // $XDG_CACHE_HOME: thumbnails/ and reelvault/facts below it
        Limits limits;
    };
    using Done = std::function<void(Result)>;

    FactsWorker(Options options, Done done);
    // Gives up on the current entry, saves the index and waits for the thread.
    ~FactsWorker();
    FactsWorker(const FactsWorker&) = delete;
    FactsWorker& operator=(const FactsWorker&) = delete;

    void Add(Job job);
    // Drops the queued jobs that `gone` says are gone and gives up on the current one if
    // it is one of them (its result then comes back interrupted).
    void Drop(const std::function<bool(const cache::Entry&)>& gone);
    // While paused no entry is read; the current one is given up and comes back
    // interrupted, to be asked for again.
    void SetPaused(bool paused);

    static std::string IndexPath(const std::string& cacheHome);

  private:
    Options options_;
    Done done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    const cache::Entry* current_ = nullptr;  // guarded by mutex_
    bool paused_ = false;
    bool stopping_ = false;
    std::atomic<bool> cancel_{false};
    // Only the worker's thread touches these.
    FactsIndex index_;
    bool dirty_ = false;
    std::thread thread_;

    void Run();
    Result Process(const cache::Entry& entry);
    bool WriteThumbnail(const std::string& path, const std::string& png);
};

}  // namespace media
