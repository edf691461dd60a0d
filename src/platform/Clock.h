#pragma once

#include <ctime>

namespace platform {

// One reading of the wall clock in local time: the calendar fields and the milliseconds
// of the same instant, so that a log line never pairs a second with another second's
// milliseconds.
struct LocalTime {
    std::tm fields{};
    unsigned short millis = 0;
};

LocalTime NowLocal();

}  // namespace platform
