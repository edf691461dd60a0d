#pragma once

#include <string>

#include "cache/CacheEntry.h"

namespace cache {

// Writes the resource of a pieced entry into the new file `target` (which must not
// exist): each range at its offset, copied inside the kernel where it can be, the parts
// never downloaded left as holes. False (and no file left) on any failure.
bool RebuildPieces(const Entry& entry, const std::string& target);

// A new path for a rebuilt body in the user's private temporary folder, named after this
// process so that a later start can tell the leftovers of a crash; "" when there is no
// such folder.
std::string NewTemporaryBodyPath(const std::string& extension);

// Removes the rebuilt bodies that processes no longer running left behind.
void SweepTemporaryBodies();

}  // namespace cache
