#include "browser/FactsFiller.h"

#include <QMetaObject>
#include <utility>

namespace {

// Two jobs at the worker: one being read, one waiting, so that it never idles between
// entries while the user interface thread is busy.
constexpr std::size_t kInFlight = 2;

}  // namespace

FactsFiller::FactsFiller(const CacheScanner& scanner, const std::string& cacheHome, QObject* parent)
    : QObject(parent), scanner_(scanner) {
    worker_ = std::make_unique<media::FactsWorker>(
        media::FactsWorker::Options{cacheHome, {}}, [this](media::Result result) {
            // Runs on the worker's thread. The answer travels under our own lock, and Qt's
            // queue carries only the wake-up: its locks are invisible to the thread
            // checker, ours are not. Should this object be gone by then, Qt drops the call.
            {
                std::lock_guard<std::mutex> lock(arrivedMutex_);
                arrived_.push_back(std::move(result));
            }
            // By name, so that the queued call is made and freed inside Qt alone.
            QMetaObject::invokeMethod(this, "TakeArrived", Qt::QueuedConnection);
        });
}

void FactsFiller::TakeArrived() {
    std::vector<media::Result> results;
    {
        std::lock_guard<std::mutex> lock(arrivedMutex_);
        results.swap(arrived_);
    }
    for (auto& result : results) {
        Take(std::move(result));
    }
}

FactsFiller::~FactsFiller() {
    worker_.reset();  // joins the worker before the members it reports to go
}

const FactsFiller::Known* FactsFiller::Find(const std::string& file) const {
    const auto found = known_.find(file);
    return found == known_.end() ? nullptr : &found->second;
}

std::uint64_t FactsFiller::SortKey(const OperaCacheEntry& entry, std::int32_t column) const {
    const Known* known = Find(entry.fileName);
    if (known == nullptr) {
        return 0;
    }
    const media::Facts& facts = known->facts;
    if (column == kColumnLength) {
        return facts.kind == media::Kind::NotMedia || facts.durationMs < 0
                   ? 1
                   : static_cast<std::uint64_t>(facts.durationMs) + 2;
    }
    // Pictures by their size; below them the entries with sound only, then what is not
    // media, then what is not known yet.
    switch (facts.kind) {
        case media::Kind::Video:
            return 3 + static_cast<std::uint64_t>(facts.width) *
                           static_cast<std::uint64_t>(facts.height);
        case media::Kind::AudioOnly:
            return 2;
        case media::Kind::NotMedia:
            break;
    }
    return 1;
}

void FactsFiller::Restart() {
    cursor_ = 0;
    Feed();
}

void FactsFiller::DropGone() {
    if (!inFlight_.empty()) {
        std::unordered_set<std::string> listed;
        for (const OperaCacheEntry& entry : scanner_.entries) {
            if (inFlight_.count(entry.fileName) != 0) {
                listed.insert(entry.fileName);
            }
        }
        worker_->Drop([&](const cache::Entry& entry) {
            if (listed.count(entry.file) != 0) {
                return false;
            }
            // A queued job goes without an answer; the one being read answers
            // "interrupted", which finds nothing left to forget.
            inFlight_.erase(entry.file);
            return true;
        });
    }
}

void FactsFiller::SetPaused(bool paused) {
    if (paused_ == paused) {
        return;
    }
    paused_ = paused;
    worker_->SetPaused(paused);
    Feed();
}

bool FactsFiller::Done() const {
    if (!inFlight_.empty()) {
        return false;
    }
    for (const OperaCacheEntry& entry : scanner_.entries) {
        if (known_.count(entry.fileName) == 0) {
            return false;
        }
    }
    return true;
}

const OperaCacheEntry* FactsFiller::Next() {
    const auto wanted = [this](const OperaCacheEntry& entry) {
        return known_.count(entry.fileName) == 0 && inFlight_.count(entry.fileName) == 0;
    };
    const auto& entries = scanner_.entries;
    if (visibleRows) {
        for (const std::size_t index : visibleRows()) {
            if (index < entries.size() && wanted(entries[index])) {
                return &entries[index];
            }
        }
    }
    for (; cursor_ < entries.size(); ++cursor_) {
        if (wanted(entries[cursor_])) {
            return &entries[cursor_++];
        }
    }
    return nullptr;
}

void FactsFiller::Feed() {
    while (!paused_ && inFlight_.size() < kInFlight) {
        const OperaCacheEntry* next = Next();
        if (next == nullptr) {
            return;
        }
        inFlight_.insert(next->fileName);
        worker_->Add({++tickets_, scanner_.Describe(*next)});
    }
}

void FactsFiller::Take(media::Result result) {
    inFlight_.erase(result.file);
    if (result.interrupted) {
        cursor_ = 0;  // it is to be read again, and the cursor may have passed it
    } else {
        known_[result.file] = Known{std::move(result.facts), std::move(result.thumbnail)};
        emit FactsArrived();
    }
    Feed();
}
