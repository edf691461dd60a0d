#include "app/QtSynchronize.h"

#include <QCoreApplication>

#include "platform/Synchronize.h"

void InstallQtSynchronize() {
    platform::SetSynchronizeHook([] {
        // Queued, never blocking: the worker waits in the hand-off queue, not in Qt.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { platform::RunSynchronized(); },
            Qt::QueuedConnection);
    });
}
