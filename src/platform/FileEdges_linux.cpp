#include "platform/FileEdges.h"

#include <fcntl.h>
#include <liburing.h>

#include <algorithm>
#include <cerrno>

namespace platform {

struct EdgeReader::Ring {
    io_uring ring{};
};

namespace {

// Each request of a batch carries its file's index and what it does.
enum Step : std::uint64_t { kOpen = 0, kHead = 1, kTail = 2, kClose = 3 };

std::uint64_t Tag(std::size_t file, Step step) {
    return static_cast<std::uint64_t>(file) << 2 | step;
}

// No O_NONBLOCK: io_uring honours it on reads, and a read that has to wait for the disk
// must wait rather than fail; what could block for good (a fifo put in a file's place)
// is bounded by the batch's patience instead. No O_CLOEXEC: the kernel refuses it for
// descriptors that live in the ring's own table, which no child ever inherits.
constexpr int kOpenFlags = O_RDONLY | O_NOCTTY;

constexpr std::uint64_t kCancelled = ~std::uint64_t{0};

// Set after the request is prepared, which clears them. Hard links: the steps of one file
// run in order, and its close runs whatever failed before it, so no slot of the table is
// left holding a file.
void Mark(io_uring_sqe* sqe, std::uint64_t tag, unsigned char flags) {
    sqe->user_data = tag;
    sqe->flags |= flags;
}

}  // namespace

EdgeReader::EdgeReader(const DirectoryListing& folder, std::size_t wholeBytes,
                       std::size_t headBytes, std::size_t tailBytes,
                       std::chrono::milliseconds patience)
    : folder_(folder),
      wholeBytes_(wholeBytes),
      headBytes_(headBytes),
      tailBytes_(tailBytes),
      slotBytes_(std::max(wholeBytes, headBytes + tailBytes)),
      patience_(patience) {
    if (!folder.IsOpen()) {
        return;
    }
    auto ring = std::make_unique<Ring>();
    if (io_uring_queue_init(4 * kBatch, &ring->ring, 0) != 0) {
        return;  // no io_uring here (an old kernel, or one that forbids it)
    }
    if (io_uring_register_files_sparse(&ring->ring, kBatch) != 0) {
        io_uring_queue_exit(&ring->ring);
        return;
    }
    ring_ = std::move(ring);
    buffer_ = std::make_unique<unsigned char[]>(kBatch * slotBytes_);
    edges_.resize(kBatch);
}

bool EdgeReader::Supported() {
    static const bool supported = [] {
        io_uring ring{};
        if (io_uring_queue_init(4, &ring, 0) != 0) {
            return false;
        }
        const bool sparse = io_uring_register_files_sparse(&ring, 1) == 0;
        io_uring_queue_exit(&ring);
        return sparse;
    }();
    return supported;
}

EdgeReader::~EdgeReader() {
    if (ring_) {
        io_uring_queue_exit(&ring_->ring);
    }
}

void EdgeReader::Read(std::span<const File> files) {
    if (!ring_) {
        return;
    }
    const std::size_t count = std::min(files.size(), kBatch);
    io_uring* ring = &ring_->ring;
    const int folder = folder_.Descriptor();
    unsigned requests = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t size = files[i].size;
        const bool whole = size <= wholeBytes_;
        const auto headLength = static_cast<std::size_t>(whole ? size : headBytes_);
        const std::size_t tailLength = whole ? 0 : tailBytes_;
        unsigned char* slot = buffer_.get() + i * slotBytes_;
        Edges& edges = edges_[i];
        edges.head = {slot, headLength};
        edges.tail = {slot + headLength, tailLength};
        const auto index = static_cast<unsigned>(i);
        const int fixed = static_cast<int>(index);

        io_uring_sqe* sqe = io_uring_get_sqe(ring);
        io_uring_prep_openat_direct(sqe, folder, files[i].name, kOpenFlags, 0, index);
        Mark(sqe, Tag(i, kOpen), IOSQE_IO_HARDLINK);
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_read(sqe, fixed, slot, static_cast<unsigned>(headLength), 0);
        Mark(sqe, Tag(i, kHead), IOSQE_IO_HARDLINK | IOSQE_FIXED_FILE);
        requests += 3;
        if (tailLength > 0) {
            sqe = io_uring_get_sqe(ring);
            io_uring_prep_read(sqe, fixed, slot + headLength, static_cast<unsigned>(tailLength),
                               size - tailLength);
            Mark(sqe, Tag(i, kTail), IOSQE_IO_HARDLINK | IOSQE_FIXED_FILE);
            ++requests;
        }
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_close_direct(sqe, index);
        Mark(sqe, Tag(i, kClose), 0);
        edges.read = true;  // until a step says otherwise
    }

    int submitted = 0;
    do {
        submitted = io_uring_submit(ring);
    } while (submitted == -EINTR);
    if (submitted < 0) {
        // Nothing went to the kernel: the caller reads these files itself.
        Abandon(count);
        return;
    }
    const auto take = [&](const io_uring_cqe& cqe) {
        const std::size_t file = cqe.user_data >> 2;
        if (file >= count) {
            return;
        }
        const auto step = static_cast<Step>(cqe.user_data & 3);
        Edges& edges = edges_[file];
        if ((step == kOpen && cqe.res < 0) ||
            (step == kHead && cqe.res != static_cast<int>(edges.head.size())) ||
            (step == kTail && cqe.res != static_cast<int>(edges.tail.size()))) {
            edges.read = false;
        }
    };
    unsigned done = Reap(requests, take);
    if (done == requests) {
        return;
    }
    // Something waits on more than a disk: a fifo put in a file's place after the listing
    // saw a file there, or a network file system that stopped answering. The batch is
    // called off and its files are read one by one instead.
    for (std::size_t i = 0; i < count; ++i) {
        edges_[i].read = false;
    }
    io_uring_sqe* cancel = io_uring_get_sqe(ring);
    io_uring_prep_cancel64(cancel, 0, IORING_ASYNC_CANCEL_ANY);
    Mark(cancel, kCancelled, 0);
    if (io_uring_submit(ring) >= 0) {
        done += Reap(requests - done + 1, [](const io_uring_cqe&) {});
    }
    if (done < requests + 1) {
        Abandon(count);
    }
}

template <typename Take>
unsigned EdgeReader::Reap(unsigned wanted, const Take& take) {
    io_uring* ring = &ring_->ring;
    __kernel_timespec patience{};
    patience.tv_sec = patience_.count() / 1000;
    patience.tv_nsec = patience_.count() % 1000 * 1000000;
    unsigned done = 0;
    while (done < wanted) {
        io_uring_cqe* cqe = nullptr;
        const int rc = io_uring_wait_cqe_timeout(ring, &cqe, &patience);
        if (rc == -EINTR) {
            continue;
        }
        if (rc < 0) {
            break;
        }
        take(*cqe);
        io_uring_cqe_seen(ring, cqe);
        ++done;
    }
    return done;
}

void EdgeReader::Abandon(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        edges_[i].read = false;
    }
    // Requests still in the kernel may yet write into the buffer: it is left to them rather
    // than handed back to the allocator, and the ring is closed behind them.
    static_cast<void>(buffer_.release());
    io_uring_queue_exit(&ring_->ring);
    ring_.reset();
}

}  // namespace platform
