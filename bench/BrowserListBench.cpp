// How long the cached-files list takes to take over a million entries and paint them:
// set the row count (model reset), reselect a file, and render the panel once.
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTreeView>
#include <cstdio>

#include "browser/FormMediaBrowser.h"

namespace {

std::int32_t PackedFor(int i) {
    // Spread over years so the timestamp sort has real work to do.
    const auto year = static_cast<std::uint32_t>(20 + i % 40);
    const auto day = static_cast<std::uint32_t>(1 + i % 28);
    return static_cast<std::int32_t>((year << 25) | (1u << 21) | (day << 16) |
                                     static_cast<std::uint32_t>(i % 0xffff));
}

double Ms(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    constexpr int kEntries = 1'000'000;

    TfrmMediaBrowser panel;
    panel.resize(800, 600);
    panel.show();
    QApplication::processEvents();

    panel.scanner.cacheDir = "/home/user/.opera/cache";
    panel.scanner.entries.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i) {
        panel.scanner.entries.push_back(
            {panel.scanner.cacheDir + "/g_" + std::to_string(i % 500) + "/opr" + std::to_string(i),
             300000 + i, PackedFor(i)});
    }
    panel.selectedFileName = panel.scanner.entries[kEntries / 2].fileName;

    QElapsedTimer timer;
    timer.start();
    panel.RefreshList();
    const double refresh = Ms(timer);
    panel.selectedFileName.clear();
    timer.restart();
    panel.RefreshList();
    const double countOnly = Ms(timer);
    panel.selectedFileName = panel.scanner.entries[kEntries / 2].fileName;
    timer.restart();
    panel.RefreshList();
    const double again = Ms(timer);
    timer.restart();
    const QPixmap shot = panel.grab();
    QApplication::processEvents();
    const double paint = Ms(timer);

    timer.restart();
    panel.lvCachedFilesColumnClick(1);
    const double resort = Ms(timer);
    timer.restart();
    panel.grab();
    const double repaint = Ms(timer);

    std::printf("entries: %d\n", kEntries);
    std::printf("row count + reselect (RefreshList): %.1f ms\n", refresh);
    std::printf("row count only, no selection: %.1f ms\n", countOnly);
    std::printf("row count + reselect, second time: %.1f ms\n", again);
    std::printf("first paint (grab %dx%d): %.1f ms\n", shot.width(), shot.height(), paint);
    std::printf("column click (sort by size + RefreshList): %.1f ms\n", resort);
    std::printf("repaint after sort: %.1f ms\n", repaint);
    return 0;
}
