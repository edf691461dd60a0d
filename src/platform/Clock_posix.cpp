#include "platform/Clock.h"

#include <time.h>

namespace platform {

LocalTime NowLocal() {
    LocalTime now;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const time_t seconds = ts.tv_sec;
    localtime_r(&seconds, &now.fields);
    now.millis = static_cast<unsigned short>(ts.tv_nsec / 1000000);
    return now;
}

}  // namespace platform
