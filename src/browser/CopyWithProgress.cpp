#include "browser/CopyWithProgress.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "cache/Stream.h"
#include "join/StreamJoin.h"

namespace {

// The dialog's range is an int: show per-mille instead of bytes so any size fits.
constexpr int kSteps = 1000;

// How often the window looks at the copy's progress and whether it has ended.
constexpr int kLookMs = 25;

}  // namespace

// The window's thread only shows the counts the work publishes and passes on a cancel, so
// a slow device never holds the window, and a cancel ends the work as soon as its current
// chunk is done.
platform::CopyResult RunWithProgress(
    QWidget* parent, const QString& title, const QString& label,
    const std::function<platform::CopyResult(const platform::CopyProgress&)>& copy) {
    QProgressDialog dialog(label, QCoreApplication::translate("TfrmMediaBrowser", "Cancel"), 0,
                           kSteps, parent);
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setValue(0);

    std::atomic<int> step{0};
    std::atomic<bool> finished{false};
    platform::CopyResult result;  // written by the copy, read after the join
    // Leaving by any way asks it to stop and joins it before what it uses is gone.
    std::jthread worker([&](std::stop_token stop) {
        result = copy([&](std::int64_t copied, std::int64_t total) {
            if (total > 0) {
                step.store(static_cast<int>(copied >= total ? kSteps : copied * kSteps / total),
                           std::memory_order_relaxed);
            }
            return !stop.stop_requested();
        });
        finished.store(true, std::memory_order_release);
    });

    QEventLoop loop;
    bool takingInput = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        const int now = step.load(std::memory_order_relaxed);
        if (dialog.wasCanceled()) {
            worker.request_stop();
        } else if (now != dialog.value()) {
            // Only a change: setting the start value again would restart the dialog's clock.
            dialog.setValue(now);
        }
        if (finished.load(std::memory_order_acquire) || dialog.isVisible() != takingInput) {
            loop.quit();
        }
    });
    look.start(kLookMs);
    while (!finished.load(std::memory_order_acquire)) {
        // While the window-modal dialog is not up (before it shows, and after a cancel
        // until the copy has stopped) the user's input waits: a key or a double click in
        // the list would start playing in the middle of the copy.
        takingInput = dialog.isVisible();
        loop.exec(takingInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    }
    worker.join();
    dialog.close();
    return result;
}

namespace {

platform::CopyResult CopyingWithProgress(
    QWidget* parent,
    const std::function<platform::CopyResult(const platform::CopyProgress&)>& copy) {
    return RunWithProgress(
        parent, QCoreApplication::translate("TfrmMediaBrowser", "Copy file to..."),
        QCoreApplication::translate("TfrmMediaBrowser", "Copying file..."), copy);
}

std::string Text(const char* text) {
    return QCoreApplication::translate("TfrmMediaBrowser", text).toLocal8Bit().toStdString();
}

// A stream is joined straight into its new file beside the target, then put in place by
// the same rules as any body (flushed, renamed at the end, links written through).
platform::CopyResult CopyStreamWithProgress(QWidget* parent,
                                            std::shared_ptr<const cache::Stream> stream,
                                            const std::string& target) {
    if (stream->protection == cache::Protection::Drm) {
        return {platform::CopyStatus::Failed,
                Text("This stream is protected (DRM): it cannot be saved outside the browser "
                     "that fetched its keys.")};
    }
    return CopyingWithProgress(parent, [&](const platform::CopyProgress& progress) {
        return platform::WriteInPlace(
            target,
            [&](const std::string& path) {
                bool cancelled = false;
                std::string error;
                const auto joining = [&](std::uint64_t done, std::uint64_t total) {
                    cancelled = !progress(static_cast<std::int64_t>(std::min(done, total)),
                                          static_cast<std::int64_t>(total));
                    return !cancelled;
                };
                if (join::JoinStream(*stream, join::Purpose::Save, path, error, joining)) {
                    return platform::CopyResult{platform::CopyStatus::Copied, {}};
                }
                return cancelled ? platform::CopyResult{platform::CopyStatus::Cancelled, {}}
                                 : platform::CopyResult{platform::CopyStatus::Failed, error};
            },
            progress);
    });
}

}  // namespace

platform::CopyResult CopyWithProgress(QWidget* parent, const std::string& source,
                                      const std::string& target) {
    return CopyingWithProgress(parent, [&](const platform::CopyProgress& progress) {
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
    if (entry.storage == cache::Storage::Stream && entry.stream) {
        return CopyStreamWithProgress(parent, entry.stream, target);
    }
    std::shared_ptr<cache::BodyReader> body = cache::OpenBody(entry);
    if (!body) {
        return {platform::CopyStatus::Failed, Text("The cached entry has changed or is gone.")};
    }
    return CopyingWithProgress(parent, [&](const platform::CopyProgress& progress) {
        return platform::CopyToFile(
            [&body](std::uint64_t offset, void* buffer, std::size_t length) {
                return body->ReadAt(offset, buffer, length);
            },
            static_cast<std::int64_t>(body->Size()), target, progress);
    });
}
