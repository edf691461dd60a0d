#pragma once

#include <QString>
#include <string>

#include "platform/FileCopy.h"

class QWidget;

// Copies `source` to `target` (exact bytes) with a cancellable progress dialog over
// `parent`. The copy runs on the calling thread in chunks, handing the event loop a turn
// after each one, so the window stays responsive and Cancel is seen between chunks.
platform::CopyResult CopyWithProgress(QWidget* parent, const std::string& source,
                                      const std::string& target);
