#include "media/FactsWorker.h"
#include "platform/PathNames.h"

#include "media/Thumbnail.h"
#include "platform/ExecutableFiles.h"
#include "platform/ReadOnlyFile.h"
#include "platform/Thread.h"
#include "platform/WholeFile.h"

namespace media {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// Whole seconds, rounded down also before 1970, as stat's st_mtime has them.
std::int64_t Seconds(std::int64_t nanoseconds) {
    std::int64_t seconds = nanoseconds / kNanosecondsPerSecond;
    if (nanoseconds % kNanosecondsPerSecond < 0) {
        --seconds;
    }
    return seconds;
}

}  // namespace

std::string FactsWorker::IndexPath(const std::string& cacheHome) {
    return cacheHome + "/reelvault/facts";
}

FactsWorker::FactsWorker(Options options, Done done)
    : options_(std::move(options)), done_(std::move(done)) {
    options_.limits.cancel = &cancel_;
    thread_ = std::thread([this] { Run(); });
}

FactsWorker::~FactsWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
        cancel_.store(true);
    }
    wake_.notify_all();
    thread_.join();
}

void FactsWorker::Add(Job job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_all();
}

void FactsWorker::Drop(const std::function<bool(const cache::Entry&)>& gone) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(queue_, [&gone](const Job& job) { return gone(job.entry); });
    if (current_ != nullptr && gone(*current_)) {
        cancel_.store(true);
    }
}

void FactsWorker::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = paused;
        if (paused && current_ != nullptr) {
            cancel_.store(true);
        }
    }
    wake_.notify_all();
}

void FactsWorker::Run() {
    // The user waits on the window, not on the facts.
    platform::LowerCurrentThreadPriority();
    const std::string indexPath = IndexPath(options_.cacheHome);
    index_.Load(indexPath);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!stopping_ && (paused_ || queue_.empty())) {
            if (dirty_) {
                // Idle: a good moment to keep what was found, in case the program dies.
                lock.unlock();
                dirty_ = !(platform::MakeFolders(platform::FolderOf(indexPath)) &&
                           index_.Save(indexPath));
                lock.lock();
                continue;
            }
            wake_.wait(lock);
            continue;
        }
        if (stopping_) {
            break;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        current_ = &job.entry;
        cancel_.store(false);
        lock.unlock();
        Result result = Process(job.entry);
        result.ticket = job.ticket;
        lock.lock();
        current_ = nullptr;
        if (stopping_) {
            break;
        }
        lock.unlock();
        done_(std::move(result));
        lock.lock();
    }
    lock.unlock();
    if (dirty_ && platform::MakeFolders(platform::FolderOf(indexPath))) {
        index_.Save(indexPath);
    }
}

bool FactsWorker::WriteThumbnail(const std::string& path, const std::string& png) {
    // The folders are made the first time they are found missing.
    return platform::ReplaceWholeFile(path, png, 0600, platform::Durability::kCache) ||
           (platform::MakeFolders(platform::FolderOf(path)) &&
            platform::ReplaceWholeFile(path, png, 0600, platform::Durability::kCache));
}

Result FactsWorker::Process(const cache::Entry& entry) {
    Result result;
    result.file = entry.file;
    platform::FileIdentity identity;
    if (!platform::StatFile(entry.file, identity)) {
        return result;  // gone since the scan: nothing to show
    }
    const std::string uri = FileUri(entry.file);
    const std::int64_t mtime = Seconds(identity.lastWriteTimeNs);
    const std::string large = ThumbnailPath(options_.cacheHome, kLargeThumbnail, uri);
    if (const Record* known = index_.Find(identity)) {
        if (!known->thumbnail) {
            result.facts = known->facts;
            result.remembered = true;
            return result;
        }
        if (ThumbnailIsCurrent(large, uri, mtime)) {
            result.facts = known->facts;
            result.thumbnail = large;
            result.remembered = true;
            return result;
        }
    }
    const std::unique_ptr<cache::BodyReader> reader = cache::OpenBody(entry);
    if (!reader) {
        return result;
    }
    const std::vector<PngText> texts = {
        {kThumbUri, uri},
        {kThumbMTime, std::to_string(mtime)},
        {kThumbSize, std::to_string(identity.size)},
        {"Software", "Reelvault"},
    };
    std::vector<Thumbnail> thumbnails;
    Outcome outcome = Outcome::Done;
    result.facts = ReadFactsAndThumbnails(*reader, options_.limits,
                                          {kLargeThumbnail.side, kNormalThumbnail.side}, texts,
                                          thumbnails, &outcome);
    if (outcome == Outcome::Cancelled) {
        result.interrupted = true;
        return result;
    }
    Record record{result.facts, false};
    if (thumbnails.size() == 2 && WriteThumbnail(large, thumbnails[0].png)) {
        // The normal size is for file managers; ours is the large one.
        WriteThumbnail(ThumbnailPath(options_.cacheHome, kNormalThumbnail, uri), thumbnails[1].png);
        record.thumbnail = true;
        result.thumbnail = large;
    }
    // A time limit may have been hit only because the machine was busy: not kept, so
    // that the next run tries again.
    if (outcome == Outcome::Done) {
        index_.Put(identity, record);
        dirty_ = true;
    }
    return result;
}

}  // namespace media
