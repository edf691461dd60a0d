#include "platform/FileTime.h"

#include <ctime>
#include <limits>

namespace platform {

namespace {

constexpr std::uint32_t kFirstDosDateTime = (0u << 25) | (1u << 21) | (1u << 16);
constexpr std::uint32_t kLastDosDateTime =
    (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;

}  // namespace

std::uint32_t PackLocalDosDateTime(std::int64_t secondsUtc) {
    if (secondsUtc < std::numeric_limits<time_t>::min() ||
        secondsUtc > std::numeric_limits<time_t>::max()) {
        return secondsUtc < 0 ? kFirstDosDateTime : kLastDosDateTime;
    }
    const time_t t = static_cast<time_t>(secondsUtc);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return secondsUtc < 0 ? kFirstDosDateTime : kLastDosDateTime;
    }
    const long year = 1900L + local.tm_year;
    if (year < 1980) {
        return kFirstDosDateTime;
    }
    if (year > 2107) {
        return kLastDosDateTime;
    }
    // A leap second (60) still has to fit the format's 0..29 halves.
    const unsigned seconds = static_cast<unsigned>(local.tm_sec > 59 ? 59 : local.tm_sec);
    return (static_cast<std::uint32_t>(year - 1980) << 25) |
           (static_cast<std::uint32_t>(local.tm_mon + 1) << 21) |
           (static_cast<std::uint32_t>(local.tm_mday) << 16) |
           (static_cast<std::uint32_t>(local.tm_hour) << 11) |
           (static_cast<std::uint32_t>(local.tm_min) << 5) | (seconds / 2);
}

}  // namespace platform
