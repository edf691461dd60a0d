#include "browser/CopyWithProgress.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <functional>
#include <memory>

namespace {

// The dialog's range is an int: show per-mille instead of bytes so any size fits.
constexpr int kSteps = 1000;

}  // namespace

namespace {

// Runs `copy` under a cancellable progress dialog over `parent`.
platform::CopyResult RunWithProgress(
    QWidget* parent,
    const std::function<platform::CopyResult(const platform::CopyProgress&)>& copy) {
    QProgressDialog dialog(QCoreApplication::translate("TfrmMediaBrowser", "Copying file..."),
                           QCoreApplication::translate("TfrmMediaBrowser", "Cancel"), 0, kSteps,
                           parent);
    dialog.setWindowTitle(QCoreApplication::translate("TfrmMediaBrowser", "Copy file to..."));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setValue(0);

    const auto result = copy([&dialog](std::int64_t copied, std::int64_t total) {
        if (total > 0) {
            const auto step = copied >= total ? kSteps : copied * kSteps / total;
            dialog.setValue(static_cast<int>(step));
        }
        // Until the window-modal dialog shows, the user's input waits: a key or a
        // double click in the list would start playing in the middle of the copy.
        QCoreApplication::processEvents(dialog.isVisible() ? QEventLoop::AllEvents
                                                           : QEventLoop::ExcludeUserInputEvents);
        return !dialog.wasCanceled();
    });
    dialog.close();
    return result;
}

}  // namespace

platform::CopyResult CopyWithProgress(QWidget* parent, const std::string& source,
                                      const std::string& target) {
    return RunWithProgress(parent, [&](const platform::CopyProgress& progress) {
        return platform::CopyFile(source, target, progress);
    });
}

platform::CopyResult CopyBodyWithProgress(QWidget* parent, const cache::Entry& entry,
                                          const std::string& target) {
    if (entry.format == cache::Format::Classic) {
        return CopyWithProgress(parent, entry.file, target);
    }
    // Writing over the entry's own files would destroy what is being read.
    for (const std::string& own : {entry.file, entry.piecesFile}) {
        if (!own.empty() && (own == target || platform::IsSameFile(own, target))) {
            return {platform::CopyStatus::SameFile, {}};
        }
    }
    std::shared_ptr<cache::BodyReader> body = cache::OpenBody(entry);
    if (!body) {
        return {platform::CopyStatus::Failed,
                QCoreApplication::translate("TfrmMediaBrowser",
                                            "The cached entry has changed or is gone.")
                    .toLocal8Bit()
                    .toStdString()};
    }
    return RunWithProgress(parent, [&](const platform::CopyProgress& progress) {
        return platform::CopyToFile(
            [&body](std::uint64_t offset, void* buffer, std::size_t length) {
                return body->ReadAt(offset, buffer, length);
            },
            static_cast<std::int64_t>(body->Size()), target, progress);
    });
}
