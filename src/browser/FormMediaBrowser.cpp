#include "browser/FormMediaBrowser.h"

#include <QAction>
#include <QFileDialog>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "browser/CachedFilesModel.h"
#include "browser/CopyWithProgress.h"
#include "browser/FactsFiller.h"
#include "browser/FileManager.h"
#include "browser/FirstRunPage.h"
#include "browser/NoticeLine.h"
#include "browser/ThumbnailDelegate.h"
#include "cache/MediaType.h"
#include "join/StreamJoin.h"
#include "platform/DirectoryListing.h"
#include "platform/ExecutableFiles.h"

TfrmMediaBrowser* frmMediaBrowser = nullptr;

namespace {

const QString kVideoFilter = QStringLiteral("Video files (*.avi *.mpg *.wmv *.flv *.mov *.rmvb)");
const QString kAllFilter = QStringLiteral("All files (*)");

constexpr int kColumnWidths[CachedFilesModel::kColumnCount] = {142, 60, 120, 80, 260, 60, 120};

}  // namespace

TfrmMediaBrowser::TfrmMediaBrowser(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMediaBrowser"));
    setWindowTitle(QStringLiteral("frmMediaBrowser"));
    setWindowFlag(Qt::FramelessWindowHint);
    resize(438, 330);
    // The column widths were chosen for this face and size; where Tahoma is missing the
    // font database picks the closest sans serif of the same size.
    QFont face(QStringLiteral("Tahoma"));
    face.setPointSize(8);
    face.setStyleHint(QFont::SansSerif);
    setFont(face);

    pcSource = new QTabWidget(this);
    pcSource->setObjectName(QStringLiteral("pcSource"));
    lblPlaybackError = new NoticeLine("lblPlaybackError", this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lblPlaybackError);
    layout->addWidget(pcSource);
    findCaches = [] { return cache::DiscoverCaches(cache::UserDiscoveryPlaces()); };

    BuildCachePage();
    BuildOtherPage();
    BuildPopupMenu();
    InstallDefaultDialogs();
    pcSource->setCurrentWidget(tsOperaCache);

    tmrScanProgress = new QTimer(this);
    tmrScanProgress->setInterval(100);
    connect(tmrScanProgress, &QTimer::timeout, this, &TfrmMediaBrowser::ShowScanProgress);
    // The listing waits under the worker's lock; Qt's queue carries only the wake-up.
    scans = std::make_unique<BackgroundScan>(
        [this] { QMetaObject::invokeMethod(this, "TakeScan", Qt::QueuedConnection); });
}

TfrmMediaBrowser::~TfrmMediaBrowser() {
    scans.reset();  // stops and joins the worker, which wakes this object
    // The model reads `scanner`, a member that is gone before QWidget deletes the
    // children: take the list and its model down while the entries still exist.
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(lvCachedFiles),
                                    static_cast<QAbstractItemView*>(lvThumbnails)}) {
        view->viewport()->removeEventFilter(this);
        view->removeEventFilter(this);
    }
    delete lvThumbnails;
    delete lvCachedFiles;
    delete selection;
    delete lvCachedFilesModel;
    delete facts;  // its worker reads entries described from `scanner`
    scanner.mediaKey = nullptr;
}

namespace {

// What both views of the list share: one row chosen at a time, nothing edited, the menu of
// the panel, and the selection as vivid without the focus as with it.
void SetUpView(QAbstractItemView* view, const QString& name) {
    view->setObjectName(name);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QPalette palette = view->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    view->setPalette(palette);
}

}  // namespace

void TfrmMediaBrowser::BuildCachePage() {
    tsOperaCache = new QWidget;
    tsOperaCache->setObjectName(QStringLiteral("tsOperaCache"));
    pcSource->addTab(tsOperaCache, QStringLiteral("Opera cache"));

    pnlList = new QWidget(tsOperaCache);
    pnlList->setObjectName(QStringLiteral("pnlList"));
    lvCachedFiles = new DetailsView(pnlList);
    SetUpView(lvCachedFiles, QStringLiteral("lvCachedFiles"));

    lvCachedFilesModel = new CachedFilesModel(scanner, this);
    selection = new QItemSelectionModel(lvCachedFilesModel, this);
    Attach(lvCachedFiles, true);
    facts = new FactsFiller(scanner, platform::XdgBaseFolder(platform::XdgFolder::kCache), this);
    lvCachedFilesModel->SetFacts(facts);
    // Only what is in view is drawn again: a change over every row would have the list
    // look at each of a million rows for each fact that comes.
    connect(facts, &FactsFiller::FactsArrived, this,
            [this] { CurrentView()->viewport()->update(); });
    scanner.mediaKey = [this](const OperaCacheEntry& entry, std::int32_t column) {
        return facts->SortKey(entry, column);
    };
    facts->visibleRows = [this] {
        QAbstractItemView* view = CurrentView();
        const QRect area = view->viewport()->rect();
        const int first = std::max(0, view->indexAt(area.topLeft() + QPoint(4, 4)).row());
        const int last = view->indexAt(area.bottomRight() - QPoint(4, 4)).row();
        const int rows = lvCachedFilesModel->rowCount();
        std::vector<std::size_t> shown;
        for (int row = first; row <= (last < 0 ? std::min(rows - 1, first + 60) : last); ++row) {
            shown.push_back(lvCachedFilesModel->EntryIndex(row));
        }
        return shown;
    };
    QHeaderView* header = lvCachedFiles->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < CachedFilesModel::kColumnCount; ++column) {
        header->resizeSection(column, kColumnWidths[column]);
    }
    // Some locales' dates and times are wider than the column's usual width; widen it
    // rather than cut every timestamp short.
    const QString widest = CachedFilesModel::TimestampText(
        static_cast<std::int32_t>(0x9F9CBF7DU), QLocale::system());  // 2059-12-28 23:59:58
    const int needed = lvCachedFiles->fontMetrics().horizontalAdvance(widest) + 16;
    header->resizeSection(CachedFilesModel::kColumnTimestamp,
                          std::max(kColumnWidths[CachedFilesModel::kColumnTimestamp], needed));
    // The list starts out newest first, which the arrow on "Timestamp" says.
    lvCachedFilesModel->SetColumnImage(2, 0);

    lblCacheFolderState = new NoticeLine("lblCacheFolderState", tsOperaCache);
    lblScanProgress = new NoticeLine("lblScanProgress", tsOperaCache, NoticeLine::Look::Plain);
    pnlFirstRun = new FirstRunPage(tsOperaCache);
    pnlFirstRun->hide();
    pnlFirstRun->OnChoose = [this](const std::string& folder) {
        if (OnChooseCacheDir) {
            OnChooseCacheDir(folder);
        }
    };

    // The grid: the same rows and the same selection as the list.
    lvThumbnails = new ThumbnailGrid(pnlList);
    SetUpView(lvThumbnails, QStringLiteral("lvThumbnails"));
    lvThumbnails->setItemDelegate(new ThumbnailDelegate(lvThumbnails));
    lvThumbnails->hide();

    edFilter = new QLineEdit(pnlList);
    edFilter->setObjectName(QStringLiteral("edFilter"));
    edFilter->setPlaceholderText(QStringLiteral("Filter by name, address or type (Ctrl+F)"));
    edFilter->setClearButtonEnabled(true);
    edFilter->setAcceptDrops(false);
    btnThumbnails = new QToolButton(pnlList);
    btnThumbnails->setObjectName(QStringLiteral("btnThumbnails"));
    btnThumbnails->setText(QStringLiteral("Thumbnails"));
    btnThumbnails->setToolTip(QStringLiteral("Thumbnails (Ctrl+1)"));
    btnDetails = new QToolButton(pnlList);
    btnDetails->setObjectName(QStringLiteral("btnDetails"));
    btnDetails->setText(QStringLiteral("Details"));
    btnDetails->setToolTip(QStringLiteral("Details (Ctrl+2)"));
    for (QToolButton* button : {btnThumbnails, btnDetails}) {
        button->setCheckable(true);
        button->setAutoRaise(true);
    }
    btnDetails->setChecked(true);

    auto* tools = new QHBoxLayout;
    tools->setContentsMargins(2, 2, 2, 2);
    tools->setSpacing(2);
    tools->addWidget(edFilter, 1);
    tools->addWidget(btnThumbnails);
    tools->addWidget(btnDetails);
    auto* list = new QVBoxLayout(pnlList);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(0);
    list->addLayout(tools);
    list->addWidget(lvCachedFiles);
    list->addWidget(lvThumbnails);

    auto* layout = new QVBoxLayout(tsOperaCache);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lblCacheFolderState);
    layout->addWidget(lblScanProgress);
    layout->addWidget(pnlList);
    layout->addWidget(pnlFirstRun);

    connect(btnThumbnails, &QToolButton::clicked, this, [this] { SetThumbnailView(true); });
    connect(btnDetails, &QToolButton::clicked, this, [this] { SetThumbnailView(false); });
    connect(edFilter, &QLineEdit::textChanged, this, &TfrmMediaBrowser::FilterChanged);
    edFilter->installEventFilter(this);
    const auto shortcut = [this](const char* keys, auto action) {
        auto* made = new QShortcut(QKeySequence(QString::fromLatin1(keys)), this);
        made->setContext(Qt::WidgetWithChildrenShortcut);
        connect(made, &QShortcut::activated, this, action);
    };
    shortcut("Ctrl+1", [this] { SetThumbnailView(true); });
    shortcut("Ctrl+2", [this] { SetThumbnailView(false); });
    shortcut("Ctrl+F", [this] {
        pcSource->setCurrentWidget(tsOperaCache);
        edFilter->setFocus(Qt::ShortcutFocusReason);
        edFilter->selectAll();
    });

    connect(header, &QHeaderView::sectionClicked, this,
            &TfrmMediaBrowser::lvCachedFilesColumnClick);
    // The view makes a row current on its own, the first one when it gets the focus, and
    // draws it as the chosen one: it is chosen, for Enter and the Play button alike.
    connect(selection, &QItemSelectionModel::currentChanged, this,
            &TfrmMediaBrowser::SelectCurrentRow);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(lvCachedFiles),
                                    static_cast<QAbstractItemView*>(lvThumbnails)}) {
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
    }
}

QAbstractItemView* TfrmMediaBrowser::CurrentView() const {
    return lvThumbnails->isHidden() ? static_cast<QAbstractItemView*>(lvCachedFiles)
                                    : static_cast<QAbstractItemView*>(lvThumbnails);
}

bool TfrmMediaBrowser::ThumbnailView() const {
    return !lvThumbnails->isHidden();
}

void TfrmMediaBrowser::SetThumbnailView(bool thumbnails) {
    btnThumbnails->setChecked(thumbnails);
    btnDetails->setChecked(!thumbnails);
    QAbstractItemView* from = CurrentView();
    QAbstractItemView* to = thumbnails ? static_cast<QAbstractItemView*>(lvThumbnails)
                                       : static_cast<QAbstractItemView*>(lvCachedFiles);
    if (from == to) {
        return;
    }
    const bool focused = from->hasFocus();
    Attach(to, true);
    to->show();
    from->hide();
    Attach(from, false);
    // Its size now, not at the next pass of the event loop, for the scroll below.
    pnlList->layout()->activate();
    if (focused) {
        to->setFocus();
    }
    const QModelIndex current = selection->currentIndex();
    if (current.isValid()) {
        to->scrollTo(current);
    }
    facts->Restart();  // the rows now in view first
}

void TfrmMediaBrowser::Attach(QAbstractItemView* view, bool attached) {
    if ((view->model() == lvCachedFilesModel) == attached) {
        return;
    }
    QHeaderView* header = view == lvCachedFiles ? lvCachedFiles->header() : nullptr;
    if (header && !attached) {
        columnWidths.clear();
        for (int column = 0; column < header->count(); ++column) {
            columnWidths.push_back(header->sectionSize(column));
        }
    }
    // The view makes a selection model of its own for each model it is given.
    QItemSelectionModel* before = view->selectionModel();
    view->setModel(attached ? lvCachedFilesModel : nullptr);
    QItemSelectionModel* made = view->selectionModel();
    if (attached) {
        view->setSelectionModel(selection);
    }
    for (QItemSelectionModel* own : {before, before == made ? nullptr : made}) {
        if (own && own != selection && own != view->selectionModel()) {
            delete own;
        }
    }
    if (header && attached) {
        for (int column = 0;
             column < header->count() && column < static_cast<int>(columnWidths.size()); ++column) {
            header->resizeSection(column, columnWidths[static_cast<std::size_t>(column)]);
        }
    }
}

bool TfrmMediaBrowser::ClearFilter() {
    if (!edFilter->hasFocus() || edFilter->text().isEmpty()) {
        return false;
    }
    edFilter->clear();
    return true;
}

void TfrmMediaBrowser::FilterChanged(const QString& text) {
    // A row the filter hides is still the one to come back to when it shows it again.
    if (SelectedRow() >= 0) {
        RememberSelection();
    }
    lvCachedFilesModel->SetFilter(text);
    Reselect();
    facts->Restart();
}

void TfrmMediaBrowser::BuildOtherPage() {
    tsOther = new QWidget;
    tsOther->setObjectName(QStringLiteral("tsOther"));
    pcSource->addTab(tsOther, QStringLiteral("Other"));

    lblFile = new QLabel(QStringLiteral("File"), tsOther);
    lblFile->setObjectName(QStringLiteral("lblFile"));
    edOtherFile = new QLineEdit(QStringLiteral("test.flv"), tsOther);
    edOtherFile->setObjectName(QStringLiteral("edOtherFile"));
    // A file dropped here is dropped on the main window: it plays, it is not typed in.
    edOtherFile->setAcceptDrops(false);
    btnMplayerInstanceBrowse = new QPushButton(QStringLiteral("..."), tsOther);
    btnMplayerInstanceBrowse->setObjectName(QStringLiteral("btnMplayerInstanceBrowse"));
    btnMplayerInstanceBrowse->setFixedWidth(btnMplayerInstanceBrowse->sizeHint().height() + 4);
    btnMplayerInstanceBrowse->setAutoDefault(false);
    lblFile->setBuddy(edOtherFile);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(3, 1, 3, 0);
    row->addWidget(lblFile);
    row->addWidget(edOtherFile, 1);
    row->addWidget(btnMplayerInstanceBrowse);
    auto* page = new QVBoxLayout(tsOther);
    page->setContentsMargins(0, 0, 0, 0);
    page->addLayout(row);
    page->addStretch(1);

    connect(btnMplayerInstanceBrowse, &QPushButton::clicked, this,
            &TfrmMediaBrowser::btnMplayerInstanceBrowseClick);
}

void TfrmMediaBrowser::BuildPopupMenu() {
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    miRescanCacheDirectory = PopupMenu->addAction(QStringLiteral("Rescan cache directory"));
    miRescanCacheDirectory->setObjectName(QStringLiteral("miRescanCacheDirectory"));
    miGoToFile = PopupMenu->addAction(QStringLiteral("Go to file"));
    miGoToFile->setObjectName(QStringLiteral("miGoToFile"));
    miCopyFile = PopupMenu->addAction(QStringLiteral("Copy file to..."));
    miCopyFile->setObjectName(QStringLiteral("miCopyFile"));

    connect(miRescanCacheDirectory, &QAction::triggered, this,
            &TfrmMediaBrowser::miRescanCacheDirectoryClick);
    connect(miGoToFile, &QAction::triggered, this, &TfrmMediaBrowser::miGoToFileClick);
    connect(miCopyFile, &QAction::triggered, this, &TfrmMediaBrowser::miCopyFileClick);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(lvCachedFiles),
                                    static_cast<QAbstractItemView*>(lvThumbnails)}) {
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
            PopupMenu->popup(view->viewport()->mapToGlobal(pos));
        });
    }
}

void TfrmMediaBrowser::InstallDefaultDialogs() {
    dialogs.chooseOtherFile = [this](const QString& folder, const QString& fileName) {
        QFileDialog dialog(this);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (!folder.isEmpty()) {
            dialog.setDirectory(folder);
        }
        dialog.selectFile(fileName);
        dialog.setNameFilters({kVideoFilter, kAllFilter});
        dialog.selectNameFilter(kVideoFilter);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return QString();
        }
        return dialog.selectedFiles().constFirst();
    };
    dialogs.chooseCopyTarget = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Copy file to..."),
                                            proposedCopyName);
    };
    dialogs.showError = [this](const QString& text) {
        QMessageBox::warning(this, QStringLiteral("Copy file to..."), text);
    };
}

void TfrmMediaBrowser::SetCacheOptions(const std::string& cacheDir, std::int32_t minimalFileSizeKB,
                                       bool useOnlyGxxxx) {
    scanner.SetOptions(cacheDir, minimalFileSizeKB, useOnlyGxxxx);
    Rescan();
}

void TfrmMediaBrowser::Rescan() {
    scans->Start({scanner.cacheDir, scanner.minimalFileSize, scanner.useOnlyGxxxx, scanner.order});
    scanClock.start();
    tmrScanProgress->start();
    lblPlaybackError->SetNotice(QString());
    ShowCacheFolderState();
}

bool TfrmMediaBrowser::ScanPending() const {
    return scans->Busy();
}

void TfrmMediaBrowser::TakeScan() {
    CacheScanner::Listing listing;
    SortOrder order;
    if (!scans->Take(listing, order)) {
        return;  // overtaken by a newer request
    }
    tmrScanProgress->stop();
    lblScanProgress->SetNotice(QString());
    RememberSelection();
    scanner.Adopt(std::move(listing));
    // The user may have sorted anew meanwhile; the media facts are known only here.
    if (order.sortColumn != scanner.order.sortColumn ||
        order.sortAscending != scanner.order.sortAscending ||
        scanner.order.sortColumn == kColumnLength || scanner.order.sortColumn == kColumnPicture) {
        scanner.SortEntries();
    }
    facts->DropGone();
    RefreshList();
}

void TfrmMediaBrowser::ShowScanProgress() {
    if (scanClock.elapsed() < 500) {
        return;
    }
    lblScanProgress->SetNotice(
        QStringLiteral("Scanning the cache: %L1 files looked at").arg(scans->FilesLookedAt()));
}

void TfrmMediaBrowser::ShowCacheFolderState() {
    const std::string& dir = scanner.cacheDir;
    const bool unset = dir.empty();
    if (unset) {
        pnlFirstRun->SetCaches(findCaches ? findCaches() : std::vector<cache::FoundCache>());
    }
    // Hidden before the other shows, so that the focus never passes through the list.
    (unset ? pnlList : static_cast<QWidget*>(pnlFirstRun))->hide();
    (unset ? static_cast<QWidget*>(pnlFirstRun) : pnlList)->show();

    QString state;
    const QString shown = QString::fromLocal8Bit(dir.data(), static_cast<qsizetype>(dir.size()));
    switch (unset ? platform::FolderState::Readable : platform::ProbeFolder(dir)) {
        case platform::FolderState::Readable:
            break;
        case platform::FolderState::Missing:
            state = QStringLiteral("The cache folder does not exist: %1").arg(shown);
            break;
        case platform::FolderState::NotAFolder:
            state = QStringLiteral("The cache folder is not a folder: %1").arg(shown);
            break;
        case platform::FolderState::Unreadable:
            state = QStringLiteral("The cache folder cannot be read: %1").arg(shown);
            break;
    }
    lblCacheFolderState->SetNotice(state);
}

void TfrmMediaBrowser::ShowPlaybackError(const std::string& line) {
    lblPlaybackError->SetNotice(
        line.empty()
            ? QString()
            : QStringLiteral("Playback failed: %1")
                  .arg(QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()))));
}

void TfrmMediaBrowser::RefreshList() {
    // The rows move under a list that stays where it was, unless the chosen one is then
    // out of sight.
    QAbstractItemView* view = CurrentView();
    QScrollBar* bar = view->verticalScrollBar();
    const int scrolled = bar->value();
    lvCachedFilesModel->Reload();
    view->doItemsLayout();  // the range the old position is kept in
    bar->setValue(scrolled);
    facts->Restart();
    Reselect();
}

void TfrmMediaBrowser::Reselect() {
    if (selectedFileName.empty()) {
        return;
    }
    const auto& entries = scanner.entries;
    for (std::size_t i = 0; i < entries.size() && i < static_cast<std::size_t>(INT_MAX); ++i) {
        if (entries[i].fileName == selectedFileName) {
            const int row = lvCachedFilesModel->RowOf(i);
            if (row < 0) {
                return;  // filtered out
            }
            const QModelIndex index = lvCachedFilesModel->index(row, 0);
            selection->setCurrentIndex(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            CurrentView()->scrollTo(index);
            return;
        }
    }
}

void TfrmMediaBrowser::PauseFacts(bool paused) {
    facts->SetPaused(paused);
}

void TfrmMediaBrowser::FocusFileControl() {
    if (pcSource->currentWidget() == tsOther) {
        edOtherFile->setFocus();
    } else if (!pnlFirstRun->isHidden() && !pnlFirstRun->buttons.empty()) {
        pnlFirstRun->buttons.front()->setFocus();
    } else {
        CurrentView()->setFocus();
    }
}

std::string TfrmMediaBrowser::GetSelectedFile() const {
    if (pcSource->currentWidget() == tsOther) {
        const QString text = edOtherFile->text();
        // A name that is not valid UTF-8 does not survive the trip through the edit's
        // text; while the text is the one we put there, its exact bytes are what we play.
        return text == otherFileShown ? otherFileBytes : text.toLocal8Bit().toStdString();
    }
    const int row = SelectedRow();
    return row < 0 ? std::string() : scanner.entries[static_cast<std::size_t>(row)].fileName;
}

bool TfrmMediaBrowser::GetSelectedEntry(cache::Entry& entry) const {
    if (pcSource->currentWidget() == tsOther) {
        entry = cache::Entry{};
        entry.file = GetSelectedFile();
        return !entry.file.empty();
    }
    const int row = SelectedRow();
    if (row < 0) {
        return false;
    }
    entry = scanner.Describe(scanner.entries[static_cast<std::size_t>(row)]);
    return true;
}

void TfrmMediaBrowser::SetOtherFile(const std::string& path, bool activate) {
    otherFileBytes = path;
    otherFileShown = QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
    edOtherFile->setText(otherFileShown);
    if (activate) {
        pcSource->setCurrentWidget(tsOther);
    }
}

bool TfrmMediaBrowser::SelectNeighbour(int step) {
    const QModelIndexList rows = selection->selectedRows();
    if (pcSource->currentWidget() == tsOther || rows.isEmpty()) {
        return false;
    }
    // In the order the list shows, the filter's rows only.
    const long next = static_cast<long>(rows.constFirst().row()) + step;
    if (next < 0 || next >= lvCachedFilesModel->rowCount()) {
        return false;
    }
    const QModelIndex index = lvCachedFilesModel->index(static_cast<int>(next), 0);
    selection->setCurrentIndex(index,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    CurrentView()->scrollTo(index);
    return true;
}

int TfrmMediaBrowser::SelectedRow() const {
    const QModelIndexList rows = selection->selectedRows();
    if (rows.isEmpty()) {
        return -1;
    }
    const int row = rows.constFirst().row();
    return row >= 0 && row < lvCachedFilesModel->rowCount()
               ? static_cast<int>(lvCachedFilesModel->EntryIndex(row))
               : -1;
}

void TfrmMediaBrowser::SelectCurrentRow() {
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && !selection->isRowSelected(current.row(), current.parent())) {
        selection->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

void TfrmMediaBrowser::RememberSelection() {
    const int row = SelectedRow();
    selectedFileName =
        row < 0 ? std::string() : scanner.entries[static_cast<std::size_t>(row)].fileName;
}

void TfrmMediaBrowser::lvCachedFilesColumnClick(int column) {
    if (column < 0 || column >= CachedFilesModel::kColumnCount) {
        return;
    }
    RememberSelection();
    const int previous = lvCachedFilesModel->ColumnImage(column);
    for (int c = 0; c < CachedFilesModel::kColumnCount; ++c) {
        lvCachedFilesModel->SetColumnImage(c, -1);
    }
    const int image = previous == 0 ? 1 : 0;
    lvCachedFilesModel->SetColumnImage(column, image);
    scanner.order.sortColumn = column;
    scanner.order.sortAscending = image == 1;
    scanner.SortEntries();
    RefreshList();
}

void TfrmMediaBrowser::miRescanCacheDirectoryClick() {
    Rescan();
}

void TfrmMediaBrowser::miGoToFileClick() {
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    ShowInFileManager(scanner.entries[static_cast<std::size_t>(row)].fileName, this);
}

void TfrmMediaBrowser::miCopyFileClick() {
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    // Hold the entry itself: a rescan while the dialogs are open must not change it.
    const OperaCacheEntry& selected = scanner.entries[static_cast<std::size_t>(row)];
    const cache::Entry entry = scanner.Describe(selected);
    const std::string name = ProposedFileName(entry, scanner.DisplayName(selected));
    proposedCopyName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    const QString chosen = dialogs.chooseCopyTarget();
    if (chosen.isEmpty()) {
        return;
    }
    const std::string target = chosen.toLocal8Bit().toStdString();
    const platform::CopyResult result = CopyBodyWithProgress(this, entry, target);
    switch (result.status) {
        case platform::CopyStatus::Copied:
        case platform::CopyStatus::Cancelled:
            break;
        case platform::CopyStatus::SameFile:
            dialogs.showError(QStringLiteral("A file cannot be copied onto itself."));
            break;
        case platform::CopyStatus::Failed:
            dialogs.showError(QStringLiteral("The file could not be copied to %1:\n%2")
                                  .arg(chosen, QString::fromLocal8Bit(result.error.c_str())));
            break;
    }
}

std::string TfrmMediaBrowser::ProposedFileName(const cache::Entry& entry, const std::string& name) {
    if (entry.format == cache::Format::Classic || name.empty()) {
        return {};
    }
    if (entry.stream) {
        // "master.m3u8" is saved as "master.mp4": the playlist's own ending names no
        // container.
        const std::size_t dot = name.rfind('.');
        return (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + "." +
               join::JoinedExtension(*entry.stream, join::Purpose::Save);
    }
    const std::string extension = cache::ExtensionForType(entry.contentType);
    const std::string dotted = "." + extension;
    if (extension.empty() ||
        (name.size() > dotted.size() &&
         QString::fromUtf8(name.data() + name.size() - dotted.size(),
                           static_cast<qsizetype>(dotted.size()))
                 .compare(QString::fromStdString(dotted), Qt::CaseInsensitive) == 0)) {
        return name;
    }
    return name + dotted;
}

void TfrmMediaBrowser::btnMplayerInstanceBrowseClick() {
    const QString text = edOtherFile->text();
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : text.left(slash);
    const QString chosen = dialogs.chooseOtherFile(folder, text);
    if (!chosen.isEmpty()) {
        edOtherFile->setText(chosen);
    }
}

void TfrmMediaBrowser::FirePlay() {
    if (OnPlay) {
        OnPlay();
    }
}

bool TfrmMediaBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edFilter && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
        // On to the first row the filter left, ready for Enter.
        QAbstractItemView* view = CurrentView();
        if (lvCachedFilesModel->rowCount() > 0) {
            const QModelIndex first = lvCachedFilesModel->index(0, 0);
            selection->setCurrentIndex(
                first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            view->scrollTo(first);
        }
        view->setFocus(Qt::TabFocusReason);
        return true;
    }
    const bool view = watched == lvCachedFiles || watched == lvThumbnails;
    const bool viewport =
        watched == lvCachedFiles->viewport() || watched == lvThumbnails->viewport();
    // Both gestures are only observed: the list still gets the key and the click.
    if (view && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            FirePlay();
        } else if (key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_Up ||
                   key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
                   key == Qt::Key_Left || key == Qt::Key_Right) {
            // The view moves only when the key lands on another row; one that lands on the
            // current row (Home on the first) chooses it all the same.
            SelectCurrentRow();
        }
    } else if (viewport && event->type() == QEvent::MouseButtonDblClick &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        FirePlay();  // not a right double click on the way to the context menu
    }
    return QWidget::eventFilter(watched, event);
}
