#pragma once

#include <QString>
#include <string>

#include "cache/CacheEntry.h"
#include "platform/FileCopy.h"

class QWidget;

// Copies `source` to `target` (exact bytes) with a cancellable progress dialog over
// `parent`. Reading, writing and flushing run on a thread of their own while the calling
// thread's event loop keeps turning; the call returns when that thread has ended. Cancel
// or Esc stops the copy after the chunk being written.
platform::CopyResult CopyWithProgress(QWidget* parent, const std::string& source,
                                      const std::string& target);

// Saves the body of a cached entry to `target`: its exact bytes, wherever they lie in the
// entry's files, pieces joined. A classic entry is a plain file copy.
platform::CopyResult CopyBodyWithProgress(QWidget* parent, const cache::Entry& entry,
                                          const std::string& target);
