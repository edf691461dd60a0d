#pragma once

#include <QString>
#include <functional>
#include <string>

#include "cache/CacheEntry.h"
#include "platform/FileCopy.h"

class QWidget;

// Runs `work` on a thread of its own while the calling thread's event loop keeps turning,
// and returns its result once that thread has ended. Until the work is done or a progress
// dialog (`title`, `label`, Cancel) shows over `parent` after half a second, the user's
// input waits. Cancel or Esc makes the progress callback answer false.
platform::CopyResult RunWithProgress(
    QWidget* parent, const QString& title, const QString& label,
    const std::function<platform::CopyResult(const platform::CopyProgress&)>& work);

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
