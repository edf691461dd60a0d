#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser/BackgroundScan.h"
#include "browser/CacheScanner.h"
#include "browser/DetailsView.h"
#include "browser/ThumbnailGrid.h"
#include "cache/CacheDiscovery.h"

class CachedFilesModel;
class FirstRunPage;
class NoticeLine;
class FactsFiller;
class QAbstractItemView;
class QAction;
class QItemSelectionModel;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;

// The panel where the user picks what to play: the files found in the browser's cache,
// or any path on the "Other" page. It never plays anything itself; it only raises OnPlay.
class TfrmMediaBrowser : public QWidget {
    Q_OBJECT
  public:
    using OperaCacheEntry = ::OperaCacheEntry;

    // The dialogs the panel opens, replaceable so that they can be answered without a
    // person (an empty answer means the user cancelled).
    struct Dialogs {
        // Open chooser of the "Other" page: start folder and proposed name.
        std::function<QString(const QString& folder, const QString& fileName)> chooseOtherFile;
        // Save chooser of "Copy file to..."; it confirms an overwrite itself. It proposes
        // `proposedCopyName` where that is not empty.
        std::function<QString()> chooseCopyTarget;
        // A message box.
        std::function<void(const QString& text)> showError;
    };

    explicit TfrmMediaBrowser(QWidget* parent = nullptr);
    ~TfrmMediaBrowser() override;

    void SetCacheOptions(const std::string& cacheDir, std::int32_t minimalFileSizeKB,
                         bool useOnlyGxxxx);
    // Starts a scan on a worker; the list keeps its rows until the new ones are ready.
    void Rescan();
    // True from a rescan until the list has taken its result.
    bool ScanPending() const;
    void RefreshList();
    void FocusFileControl();
    std::string GetSelectedFile() const;
    // What the user chose, ready to be played or copied: the selected row's entry on the
    // cache page, the path as a plain file on the "Other" page. False when nothing is.
    bool GetSelectedEntry(cache::Entry& entry) const;
    void SetOtherFile(const std::string& path, bool activate);
    // Chooses the row `step` rows from the chosen one in the list's order; false (nothing
    // changed) past either end, on the "Other" page, or with no row chosen.
    bool SelectNeighbour(int step);
    // Media facts are read in the background while nothing plays.
    void PauseFacts(bool paused);

    // The thumbnail grid in the details list's place, or back; both show the same rows
    // with the same selection.
    void SetThumbnailView(bool thumbnails);
    bool ThumbnailView() const;
    // Empties the filter field when it has the focus and holds text; false otherwise.
    bool ClearFilter();

    // Fired by a double click or Enter in the list, with or without a selected row.
    std::function<void()> OnPlay;

    // Fired when the user picks one of the caches found while no cache folder is set; the
    // owner makes it the cache folder.
    std::function<void(const std::string& folder)> OnChooseCacheDir;
    // The search for this user's browser caches, run by each rescan while no cache
    // folder is set.
    std::function<std::vector<cache::FoundCache>()> findCaches;

    // One line over the panel about a playback that failed, until the next rescan.
    void ShowPlaybackError(const std::string& line);

    CacheScanner scanner;
    std::string selectedFileName;
    Dialogs dialogs;
    // The name "Copy file to..." proposes for the entry being copied: for a modern
    // cache's entry its name from the address with the extension of its type; empty for
    // a classic file.
    QString proposedCopyName;
    static std::string ProposedFileName(const cache::Entry& entry, const std::string& name);

    QTabWidget* pcSource;
    QWidget* tsOperaCache;
    // Over the list: the filter and the two views' buttons.
    QLineEdit* edFilter;
    QToolButton* btnThumbnails;
    QToolButton* btnDetails;
    DetailsView* lvCachedFiles;
    ThumbnailGrid* lvThumbnails;
    CachedFilesModel* lvCachedFilesModel;
    // The chosen row, whichever view shows it.
    QItemSelectionModel* selection;
    // In the list's place while no cache folder is set.
    FirstRunPage* pnlFirstRun;
    // Above the list: a cache folder that is missing or cannot be read.
    NoticeLine* lblCacheFolderState;
    // Above both pages: why the last playback failed.
    NoticeLine* lblPlaybackError;
    // Above the list while a long scan runs: how far it got.
    NoticeLine* lblScanProgress;
    FactsFiller* facts;
    QWidget* tsOther;
    QLabel* lblFile;
    QLineEdit* edOtherFile;
    QPushButton* btnMplayerInstanceBrowse;
    QMenu* PopupMenu;
    QAction* miRescanCacheDirectory;
    QAction* miGoToFile;
    QAction* miCopyFile;

    void lvCachedFilesColumnClick(int column);
    void miRescanCacheDirectoryClick();
    void miGoToFileClick();
    void miCopyFileClick();
    void btnMplayerInstanceBrowseClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::unique_ptr<BackgroundScan> scans;
    QTimer* tmrScanProgress;
    QElapsedTimer scanClock;
    // Takes the listing the worker finished.
    Q_INVOKABLE void TakeScan();
    void ShowScanProgress();

    // The path SetOtherFile was given, byte for byte, and the text it showed for it.
    std::string otherFileBytes;
    QString otherFileShown;

    // Holds the filter row and the two views; the first-run page takes its place.
    QWidget* pnlList;
    QAbstractItemView* CurrentView() const;
    // Gives `view` the rows and the shared selection, or takes them away: a hidden view
    // with the model would follow every reset and selection with work over every row.
    void Attach(QAbstractItemView* view, bool attached);
    // The details list's column widths while it has no model to keep them.
    std::vector<int> columnWidths;
    // Selects the remembered entry again where it is listed.
    void Reselect();
    void FilterChanged(const QString& text);
    // Index into scanner.entries of the selected row, or -1.
    int SelectedRow() const;
    // Selects the list's current row where it is not.
    void SelectCurrentRow();
    // Sets selectedFileName to the selected entry's path, or empty.
    void RememberSelection();
    void FirePlay();
    // The list, or the caches found in its place; the line about the folder.
    void ShowCacheFolderState();
    void BuildCachePage();
    void BuildOtherPage();
    void BuildPopupMenu();
    void InstallDefaultDialogs();
};

// The program's one instance, created in main().
extern TfrmMediaBrowser* frmMediaBrowser;
