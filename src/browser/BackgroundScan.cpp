#include "browser/BackgroundScan.h"

#include <utility>

BackgroundScan::BackgroundScan(std::function<void()> finished) : finished_(std::move(finished)) {
    scanner_.control = &control_;
    thread_ = std::thread([this] { Run(); });
}

BackgroundScan::~BackgroundScan() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        control_.stop = true;
    }
    wake_.notify_one();
    thread_.join();
}

void BackgroundScan::Start(Request request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = std::move(request);
        done_.reset();  // found for options that no longer hold
        control_.stop = true;
    }
    wake_.notify_one();
}

bool BackgroundScan::Take(CacheScanner::Listing& listing, SortOrder& order) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!done_) {
        return false;
    }
    listing = std::move(*done_);
    order = doneOrder_;
    done_.reset();
    return true;
}

bool BackgroundScan::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_ || pending_ || done_;
}

std::size_t BackgroundScan::FilesLookedAt() const {
    return control_.looked.load(std::memory_order_relaxed);
}

void BackgroundScan::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || pending_; });
        if (quit_) {
            return;
        }
        const Request request = std::move(*pending_);
        pending_.reset();
        control_.stop = false;
        control_.looked = 0;
        running_ = true;
        lock.unlock();

        scanner_.cacheDir = request.cacheDir;
        scanner_.minimalFileSize = request.minimalFileSize;
        scanner_.useOnlyGxxxx = request.useOnlyGxxxx;
        scanner_.order = request.order;
        scanner_.Rescan();
        CacheScanner::Listing listing = scanner_.TakeListing();

        lock.lock();
        running_ = false;
        if (control_.stop || pending_) {
            continue;  // given up for a newer request, or for good
        }
        done_ = std::move(listing);
        doneOrder_ = request.order;
        lock.unlock();
        finished_();
        lock.lock();
    }
}
