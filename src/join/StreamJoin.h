#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cache/Stream.h"

// One file from the tracks of an adaptive stream, for the player to read and for a copy
// to keep: the bytes concatenated where the container allows, else the tracks remuxed
// into one container. Never re-encoded.
namespace join {

enum class Purpose { Play, Save };

// The extension the joined file gets, without the dot. Play: "ts" for one MPEG-TS track,
// "mp4" for one fMP4 track with its init section (both joined by concatenation), else
// "mkv" (remuxed). Save: "mp4" where the codecs fit it, else "webm" where they fit
// WebM, else "mkv". Reads the tracks' first bytes for their codecs only where the
// manifest does not name them.
std::string JoinedExtension(const cache::Stream& stream, Purpose purpose);

// Progress in bytes of the tracks read; false from it cancels the join.
using JoinProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Writes the joined stream into the new file `target`, which must not exist. False, with
// `error` set to a short reason a person understands and no file left behind, on any
// failure or when `progress` cancels. Timestamps come out rising in every track: a
// missing segment stays a gap in time, a jump back (a discontinuity) or one far ahead is
// closed up.
bool JoinStream(const cache::Stream& stream, Purpose purpose, const std::string& target,
                std::string& error, const JoinProgress& progress = {});

}  // namespace join
