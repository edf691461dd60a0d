#pragma once

#include <QTest>

#include "browser/FormMediaBrowser.h"

namespace browsertest {

// The panel scans on a worker: waits until its list has taken the result.
inline bool WaitForScan(const TfrmMediaBrowser& panel) {
    return QTest::qWaitFor([&] { return !panel.ScanPending(); }, 30000);
}

}  // namespace browsertest
