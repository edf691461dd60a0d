#pragma once

#include <QString>
#include <string>

#include "cache/CacheEntry.h"
#include "platform/FileCopy.h"

class QWidget;

// Copies `source` to `target` (exact bytes) with a cancellable progress dialog over
// `parent`. The copy runs on the calling thread in chunks, handing the event loop a turn
// after each one, so the window stays responsive and Cancel is seen between chunks; the
// final flush to disk runs on a thread of its own while the event loop keeps turning (the
// dialog shows if it takes long, and a cancel then takes effect when the flush is done).
platform::CopyResult CopyWithProgress(QWidget* parent, const std::string& source,
                                      const std::string& target);

// Saves the body of a cached entry to `target`: its exact bytes, wherever they lie in the
// entry's files, pieces joined. A classic entry is a plain file copy.
platform::CopyResult CopyBodyWithProgress(QWidget* parent, const cache::Entry& entry,
                                          const std::string& target);
