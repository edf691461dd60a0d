// What a million listed entries cost the user-interface thread: the first paint of the
// details list and of the thumbnail grid, a switch between them, and the reselect when a
// rescan's result is taken over, each beside the same on an empty list (what the paint
// costs anyway); the memory per entry; a filter keystroke over 100,000 rows.
#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <algorithm>
#include <cstdio>
#include <string>

#include "browser/FactsFiller.h"
#include "browser/FormMediaBrowser.h"
#include "platform/ProcessMemory.h"

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

// What the user sees after a change: the event loop's pending work (the layout a shown
// view asks for, resizes, delayed item layouts) done, then a paint.
void Paint(QWidget& panel) {
    QApplication::processEvents();
    panel.grab();
}

const std::string kCacheDir = "/home/user/.opera/cache";

std::vector<OperaCacheEntry> MakeEntries(int count) {
    std::vector<OperaCacheEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        entries.push_back({kCacheDir + "/g_" + std::to_string(i % 500) + "/opr" + std::to_string(i),
                           300000 + i, PackedFor(i)});
    }
    return entries;
}

// Shows `panel` and gives it `count` entries, not yet listed.
void Fill(TfrmMediaBrowser& panel, int count, bool thumbnails = false) {
    panel.resize(800, 600);
    panel.SetThumbnailView(thumbnails);
    panel.show();
    QApplication::processEvents();
    panel.scanner.cacheDir = kCacheDir;
    panel.scanner.entries = MakeEntries(count);
}

struct Figures {
    double firstPaint = 0;   // row count, reselect and the first paint of the starting view
    double switchPaint = 0;  // to the other view, painted
    double reselect = 0;     // then a rescan's listing taken over: row count, reselect
    double keystroke = 0;    // the worst of a few filter keystrokes, painted
};

// A fresh panel (so that the first paint is a first one) listing `count` entries.
Figures Measure(int count, bool thumbnailsFirst) {
    TfrmMediaBrowser panel;
    Fill(panel, count, thumbnailsFirst);
    if (count > 0) {
        panel.selectedFileName =
            panel.scanner.entries[static_cast<std::size_t>(count / 2)].fileName;
    }
    Figures figures;
    QElapsedTimer timer;
    timer.start();
    panel.RefreshList();
    Paint(panel);
    figures.firstPaint = Ms(timer);

    timer.restart();
    panel.SetThumbnailView(!thumbnailsFirst);
    Paint(panel);
    figures.switchPaint = Ms(timer);

    CacheScanner::Listing listing;
    listing.entries = panel.scanner.entries;
    timer.restart();
    panel.scanner.Adopt(std::move(listing));
    panel.facts->DropGone();
    panel.RefreshList();
    figures.reselect = Ms(timer);
    return figures;
}

double Keystrokes(int count) {
    TfrmMediaBrowser panel;
    Fill(panel, count);
    panel.RefreshList();
    Paint(panel);
    double worst = 0;
    // Every row kept, a narrowing, a miss, and back to a wide one (no narrowing then).
    for (const char* text : {"o", "opr", "opr12", "opr12x", "g_1"}) {
        QElapsedTimer timer;
        timer.start();
        panel.edFilter->setText(QString::fromLatin1(text));
        Paint(panel);
        worst = std::max(worst, Ms(timer));
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    constexpr int kEntries = 1'000'000;
    constexpr int kFilterRows = 100'000;

    // Memory: the entries alone, then what the two views add once both have been shown;
    // resident as the system counts it, and the heap in use. The entries are also given
    // beside their path text, which the scan's own figure leaves out: that one holds for
    // names of any length.
    const auto resident = [] { return platform::CurrentProcessMemory().residentKb * 1024.0; };
    // Large blocks are mapped apart from the heap proper: both are in use.
    const auto heap = [] {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<double>(info.uordblks + info.hblkhd);
    };
    const double residentBefore = resident();
    const double heapBefore = heap();
    {
        TfrmMediaBrowser panel;
        Fill(panel, kEntries);
        const double residentEntries = resident();
        const double heapEntries = heap();
        double pathText = 0;
        for (const auto& entry : panel.scanner.entries) {
            pathText += static_cast<double>(entry.fileName.size() + 1);
        }
        panel.RefreshList();
        Paint(panel);
        panel.SetThumbnailView(true);
        Paint(panel);
        panel.SetThumbnailView(false);
        Paint(panel);
        const double n = kEntries;
        std::printf(
            "memory per entry, resident: %.1f bytes the entry (%.1f beside its %.1f bytes "
            "of path text), %.1f bytes the two views\n",
            (residentEntries - residentBefore) / n,
            (residentEntries - residentBefore - pathText) / n, pathText / n,
            (resident() - residentEntries) / n);
        std::printf(
            "memory per entry, heap in use: %.1f bytes the entry (%.1f beside the path "
            "text), %.1f bytes the two views\n",
            (heapEntries - heapBefore) / n, (heapEntries - heapBefore - pathText) / n,
            (heap() - heapEntries) / n);
    }

    // What the first panel of a run pays once (styles, fonts, caches) is paid here, in
    // neither the empty peers nor the full lists.
    Measure(0, false);
    Measure(0, true);
    // Empty first: what a paint costs whatever the list holds is then paid by it.
    const Figures emptyDetails = Measure(0, false);
    const Figures emptyGrid = Measure(0, true);
    const Figures details = Measure(kEntries, false);
    const Figures grid = Measure(kEntries, true);
    std::printf("entries: %d (each figure: with them - with an empty list = their cost)\n",
                kEntries);
    const auto line = [](const char* what, double full, double empty) {
        std::printf("%-44s %8.1f ms - %6.1f ms = %8.1f ms\n", what, full, empty, full - empty);
    };
    line("first paint, details list:", details.firstPaint, emptyDetails.firstPaint);
    line("first paint, thumbnail grid:", grid.firstPaint, emptyGrid.firstPaint);
    line("switch details -> thumbnails, painted:", details.switchPaint, emptyDetails.switchPaint);
    line("switch thumbnails -> details, painted:", grid.switchPaint, emptyGrid.switchPaint);
    // Each panel took its rescan after the switch: in the other view than it started in.
    line("rescan taken over + reselect (grid):", details.reselect, emptyDetails.reselect);
    line("rescan taken over + reselect (details):", grid.reselect, emptyGrid.reselect);

    Keystrokes(0);
    const double keysFull = Keystrokes(kFilterRows);
    const double keysEmpty = Keystrokes(0);
    line("filter keystroke over 100,000 rows (worst):", keysFull, keysEmpty);
    return 0;
}
