#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cache/CacheEntry.h"

// What the control bar says about time: the clock text and which parts of a file are
// there to be played.
namespace playback {

// "1:23", "10:00", "1:02:03"; `hours` forces the hour field (so that "0:01:23 / 1:30:00"
// keeps its shape as the position grows).
std::string ClockText(double seconds, bool hours);

// "1:23 / 10:00": the position and the length, both with hours when the length has them;
// the position alone while the length is not known (0).
std::string TimeText(double position, double length);

// The stretches of `entry` that are present, as fractions of the whole from 0 to 1,
// sorted: a joined stream's present seconds over its length (or `length` where the
// stream does not know its own), the present start of a partial body. Empty where all of
// it is there, or where what is missing cannot be placed (pieces of unknown order).
std::vector<std::pair<double, double>> PresentParts(const cache::Entry& entry, double length);

}  // namespace playback
