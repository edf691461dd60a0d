#pragma once

#include <cstdint>

namespace platform {

// The instant `secondsUtc` (seconds since 1970) as local time, packed in the DOS
// date-time format: date in the high 16 bits, time in the low 16 bits, seconds halved.
// Times outside what the format holds (1980-01-01 00:00:00 to 2107-12-31 23:59:58) are
// clamped to its first or last value. Years from 2044 on set the top bit, so compare
// the result as an unsigned number.
std::uint32_t PackLocalDosDateTime(std::int64_t secondsUtc);

}  // namespace platform
