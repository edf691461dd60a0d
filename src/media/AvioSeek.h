#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace media {

// Where a seek of FFmpeg's own I/O callbacks lands in a stream of `size` bytes read at
// `position` (AVSEEK_SIZE asks for the size); a negative AVERROR where it would leave the
// stream's numbers. Offsets come from the file being read: the sum never overflows.
inline std::int64_t AvioSeekTarget(std::int64_t position, std::int64_t size, std::int64_t offset,
                                   int whence) {
    whence &= ~AVSEEK_FORCE;
    std::int64_t base = 0;
    if (whence == AVSEEK_SIZE) {
        return size;
    } else if (whence == SEEK_CUR) {
        base = position;
    } else if (whence == SEEK_END) {
        base = size;
    } else if (whence != SEEK_SET) {
        return AVERROR(EINVAL);
    }
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) {
        return AVERROR(EINVAL);
    }
    return base + offset;
}

}  // namespace media
