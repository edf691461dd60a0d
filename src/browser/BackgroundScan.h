#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "browser/CacheScanner.h"

// Scans the cache on a thread of its own, so that a big cache never holds up the caller.
// The worker has a scanner of its own (what it learnt of a modern cache's entries stays
// there for the next scan); what a scan found is moved to the caller whole. A new request
// stops the scan that runs: only the last one asked for is ever handed over.
class BackgroundScan {
  public:
    struct Request {
        std::string cacheDir;
        std::int64_t minimalFileSize = 0;
        bool useOnlyGxxxx = true;
        SortOrder order;  // columns sorted by media facts are left to the caller
    };

    // `finished` is called on the worker's thread when a listing is ready to be taken.
    explicit BackgroundScan(std::function<void()> finished);
    ~BackgroundScan();
    BackgroundScan(const BackgroundScan&) = delete;
    BackgroundScan& operator=(const BackgroundScan&) = delete;

    void Start(Request request);
    // The listing of the last request and the order it is sorted in; false while there
    // is none.
    bool Take(CacheScanner::Listing& listing, SortOrder& order);
    // True from a request until its listing is taken.
    bool Busy() const;
    // Files looked at by the scan that runs.
    std::size_t FilesLookedAt() const;

  private:
    void Run();

    std::function<void()> finished_;
    CacheScanner scanner_;  // the worker's alone
    ScanControl control_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Request> pending_;
    std::optional<CacheScanner::Listing> done_;
    SortOrder doneOrder_;
    bool running_ = false;
    bool quit_ = false;
    std::thread thread_;
};
