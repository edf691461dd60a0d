#include "player/PlaybackTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cache/Stream.h"

namespace playback {

std::string ClockText(double seconds, bool hours) {
    const long total = std::isfinite(seconds) && seconds > 0 ? static_cast<long>(seconds) : 0;
    const long h = total / 3600;
    const long m = total / 60 % 60;
    const long s = total % 60;
    char text[32];
    if (hours || h > 0) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", h, m, s);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", m, s);
    }
    return text;
}

std::string TimeText(double position, double length) {
    if (length <= 0) {
        return ClockText(position, false);
    }
    const bool hours = length >= 3600;
    return ClockText(position, hours) + " / " + ClockText(length, hours);
}

std::vector<std::pair<double, double>> PresentParts(const cache::Entry& entry, double length) {
    std::vector<std::pair<double, double>> parts;
    if (entry.stream) {
        const double whole = entry.stream->length > 0 ? entry.stream->length : length;
        if (whole <= 0) {
            return parts;
        }
        for (const auto& [from, to] : entry.stream->present) {
            const double a = std::clamp(from / whole, 0.0, 1.0);
            const double b = std::clamp(to / whole, 0.0, 1.0);
            if (b > a) {
                parts.emplace_back(a, b);
            }
        }
        if (parts.size() == 1 && parts[0].first <= 0 && parts[0].second >= 1) {
            parts.clear();  // all of it
        }
        return parts;
    }
    const bool plain =
        entry.storage == cache::Storage::Whole || entry.storage == cache::Storage::Span;
    if (plain && !entry.complete && entry.resourceSize > 0 && entry.bodySize < entry.resourceSize) {
        parts.emplace_back(
            0.0, static_cast<double>(entry.bodySize) / static_cast<double>(entry.resourceSize));
    }
    return parts;
}

}  // namespace playback
