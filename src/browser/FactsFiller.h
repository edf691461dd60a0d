#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "browser/CacheScanner.h"
#include "media/FactsWorker.h"

// Fills in the media facts of the listed entries in the background, the rows in view
// first, one entry at a time on one worker thread. The list is painted without them and
// repainted as they come; nothing here waits for the worker.
class FactsFiller : public QObject {
    Q_OBJECT
  public:
    struct Known {
        media::Facts facts;
        std::string thumbnail;  // path of the large thumbnail, or empty
    };

    // `cacheHome` is $XDG_CACHE_HOME, where thumbnails and the facts index are kept.
    FactsFiller(const CacheScanner& scanner, const std::string& cacheHome,
                QObject* parent = nullptr);
    ~FactsFiller() override;

    // What is known of the entry with this file; null while it is still to be read.
    const Known* Find(const std::string& file) const;
    // The sort key of CacheScanner::mediaKey.
    std::uint64_t SortKey(const OperaCacheEntry& entry, std::int32_t column) const;

    // After a rescan: the work for entries that are gone is given up.
    void DropGone();
    // After the entries were rescanned or re-sorted: goes on from the top.
    void Restart();
    // While a file plays the worker rests.
    void SetPaused(bool paused);
    // True when every listed entry is known.
    bool Done() const;

    // The indexes into the entries of the rows in view, done before the others.
    std::function<std::vector<std::size_t>()> visibleRows;

  signals:
    void FactsArrived();

  private:
    const CacheScanner& scanner_;
    std::unique_ptr<media::FactsWorker> worker_;
    std::unordered_map<std::string, Known> known_;
    std::unordered_set<std::string> inFlight_;  // given to the worker, no answer yet
    std::size_t cursor_ = 0;                    // entries before it are known or in flight
    std::uint64_t tickets_ = 0;
    bool paused_ = false;

    const OperaCacheEntry* Next();
    void Feed();
    void Take(media::Result result);
    Q_INVOKABLE void TakeArrived();

    // Answers from the worker's thread, waiting for the user interface thread.
    std::mutex arrivedMutex_;
    std::vector<media::Result> arrived_;
};
