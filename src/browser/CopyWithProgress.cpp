#include "browser/CopyWithProgress.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace {

// The dialog's range is an int: show per-mille instead of bytes so any size fits.
constexpr int kSteps = 1000;

}  // namespace

platform::CopyResult CopyWithProgress(QWidget* parent, const std::string& source,
                                      const std::string& target) {
    QProgressDialog dialog(QCoreApplication::translate("TfrmMediaBrowser", "Copying file..."),
                           QCoreApplication::translate("TfrmMediaBrowser", "Cancel"), 0, kSteps,
                           parent);
    dialog.setWindowTitle(QCoreApplication::translate("TfrmMediaBrowser", "Copy file to..."));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setValue(0);

    const auto result =
        platform::CopyFile(source, target, [&dialog](std::int64_t copied, std::int64_t total) {
            if (total > 0) {
                const auto step = copied >= total ? kSteps : copied * kSteps / total;
                dialog.setValue(static_cast<int>(step));
            }
            // Until the window-modal dialog shows, the user's input waits: a key or a
            // double click in the list would start playing in the middle of the copy.
            QCoreApplication::processEvents(
                dialog.isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
            return !dialog.wasCanceled();
        });
    dialog.close();
    return result;
}
