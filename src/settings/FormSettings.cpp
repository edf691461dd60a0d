#include "settings/FormSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>

#include "log/LogUnit.h"

TfrmSettings* frmSettings = nullptr;

namespace {

// The last choice is the most the log window ever holds, whatever the file says.
constexpr std::array<std::uint32_t, 7> kCapacities{
    100, 200, 500, 1000, 2000, 5000, TfrmLog::kMostLines};
constexpr std::int32_t kDefaultMinimalFileSize = 300;

QString FromLocal(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToLocal(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// The edit's text in the system encoding; an edit still showing what was loaded gives
// back the loaded bytes, so a path that is not valid text survives Apply unchanged.
std::string EditedText(const QLineEdit* edit, const QString& shown, const std::string& loaded) {
    return edit->text() == shown ? loaded : ToLocal(edit->text());
}

QToolButton* MakeBrowseButton(QWidget* parent, const char* name) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(QStringLiteral("..."));
    button->setAutoRaise(true);
    button->setFixedSize(23, 22);
    return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int width, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMinimumSize(width, 21);
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, int width) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setMinimumSize(width, 17);
    return box;
}

}  // namespace

TfrmSettings::TfrmSettings(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    // Modal to the owner only, so that the log window it can open stays usable.
    setWindowModality(Qt::WindowModal);

    pcGeneral = new QTabWidget(this);
    pcGeneral->setObjectName(QStringLiteral("pcGeneral"));
    pcGeneral->addTab(TabSheet1 = MakeGeneralPage(), QStringLiteral("General"));
    const int loggingTab =
        pcGeneral->addTab(pcLogging = MakeLoggingPage(), QStringLiteral("Logging"));
    pcGeneral->addTab(tsMplayer = MakeMplayerPage(), QStringLiteral("Mplayer"));
    pcGeneral->addTab(tsOpera = MakeOperaPage(), QStringLiteral("Opera"));
    // Its values still pass through the dialog; the user just never reaches the page. The
    // tab bar's wheel and arrow keys and the page control's Ctrl+Tab pass over disabled
    // tabs only, not over hidden ones, so the tab is both. Its page's controls stay as they
    // were (disabling the tab disables the page too).
    pcGeneral->setTabVisible(loggingTab, false);
    pcGeneral->setTabEnabled(loggingTab, false);
    pcLogging->setEnabled(true);
    pcGeneral->setCurrentWidget(TabSheet1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pcGeneral, 1);
    layout->addWidget(MakeBottomStrip());

    setFixedSize(sizeHint().expandedTo(QSize(341, 251)));

    for (QCheckBox* box : {chbAlwaysOnTop, chbExitFullscreenOnStop, chbLogToFile}) {
        // Code that changes a box runs the handler too, as a click would.
        connect(box, &QCheckBox::toggled, this, &TfrmSettings::chbAlwaysOnTopClick);
    }
    // Only the user's choice counts; selecting an item from code leaves the copy alone.
    connect(cmbMaxUiLogLines, &QComboBox::activated, this, &TfrmSettings::cmbMaxUiLogLinesChange);
    connect(btnMplayerInstanceBrowse, &QToolButton::clicked, this,
            &TfrmSettings::btnMplayerInstanceBrowseClick);
    connect(btnOperaCacheDirBrowse, &QToolButton::clicked, this,
            &TfrmSettings::btnOperaCacheDirBrowseClick);
    connect(btnShowLogWindow, &QPushButton::clicked, this, &TfrmSettings::btnShowLogWindowClick);
    connect(btnApply, &QPushButton::clicked, this, &TfrmSettings::btnApplyClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);
}

QWidget* TfrmSettings::MakeGeneralPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    chbAlwaysOnTop =
        MakeCheckBox(page, "chbAlwaysOnTop", QStringLiteral("Window always on top"), 325);
    chbExitFullscreenOnStop = MakeCheckBox(page, "chbExitFullscreenOnStop",
                                           QStringLiteral("Exit fullscreen on stop playing"), 325);
    btnShowLogWindow = new QPushButton(QStringLiteral("Show log window"), page);
    btnShowLogWindow->setObjectName(QStringLiteral("btnShowLogWindow"));
    btnShowLogWindow->setMinimumSize(126, 25);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->addWidget(chbAlwaysOnTop);
    layout->addWidget(chbExitFullscreenOnStop);
    layout->addWidget(btnShowLogWindow, 0, Qt::AlignLeft);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmSettings::MakeLoggingPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("pcLogging"));
    chbLogToFile = MakeCheckBox(page, "chbLogToFile", QStringLiteral("Log to file"), 325);
    lblUiCapacity = MakeLabel(page, "lblUiCapacity",
                              QStringLiteral("Visible (buffered) log lines in log window:"));
    cmbMaxUiLogLines = new QComboBox(page);
    cmbMaxUiLogLines->setObjectName(QStringLiteral("cmbMaxUiLogLines"));
    cmbMaxUiLogLines->setEditable(false);
    cmbMaxUiLogLines->setMinimumWidth(111);
    for (std::uint32_t capacity : kCapacities) {
        cmbMaxUiLogLines->addItem(QString::number(capacity));
    }

    auto* capacityRow = new QHBoxLayout;
    capacityRow->addWidget(lblUiCapacity);
    capacityRow->addWidget(cmbMaxUiLogLines);
    capacityRow->addStretch(1);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(5, 3, 5, 3);
    layout->addWidget(chbLogToFile);
    layout->addLayout(capacityRow);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmSettings::MakeMplayerPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsMplayer"));
    lblInstance = MakeLabel(page, "lblInstance", QStringLiteral("Instance"));
    edMplayerInstance = MakeEdit(page, "edMplayerInstance", 254, QStringLiteral("mplayer.exe"));
    btnMplayerInstanceBrowse = MakeBrowseButton(page, "btnMplayerInstanceBrowse");

    auto* row = new QHBoxLayout;
    row->setSpacing(3);
    row->addWidget(lblInstance);
    row->addWidget(edMplayerInstance, 1);
    row->addWidget(btnMplayerInstanceBrowse);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(3, 1, 3, 1);
    layout->addLayout(row);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmSettings::MakeOperaPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsOpera"));
    lblOperaCacheDir = MakeLabel(page, "lblOperaCacheDir", QStringLiteral("Cache dir"));
    edOperaCacheDir = MakeEdit(page, "edOperaCacheDir", 254, QString());
    btnOperaCacheDirBrowse = MakeBrowseButton(page, "btnOperaCacheDirBrowse");
    mnuFoundCaches = new QMenu(btnOperaCacheDirBrowse);
    mnuFoundCaches->setObjectName(QStringLiteral("mnuFoundCaches"));
    findCaches = [] { return cache::DiscoverCaches(cache::UserDiscoveryPlaces()); };
    Label1 =
        MakeLabel(page, "Label1",
                  QStringLiteral("Note: hidden directories (Application Data) are not accessible"));
    Label2 = MakeLabel(page, "Label2", QStringLiteral("from \"Select directory\" dialog"));
    Label3 = MakeLabel(page, "Label3",
                       QStringLiteral("You can check your cache directory using this link:"));
    Edit1 = MakeEdit(page, "Edit1", 254, QStringLiteral("opera:config#UserPrefs|CacheDirectory4"));
    Edit1->setReadOnly(true);
    lblMinimalFileSize = MakeLabel(page, "lblMinimalFileSize", QStringLiteral("Minimal file size"));
    edOperaMinimalFileSize = MakeEdit(page, "edOperaMinimalFileSize", 72, QStringLiteral("300"));
    edOperaMinimalFileSize->setMaximumWidth(72);
    Label4 = MakeLabel(page, "Label4", QStringLiteral("kB"));
    chbOperaUseOnlyG_XXXX =
        MakeCheckBox(page, "chbOperaUseOnlyG_XXXX",
                     QStringLiteral("Scan only g_xxxx subdirectories (Opera 11)"), 302);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(3);
    grid->addWidget(lblOperaCacheDir, 0, 0);
    grid->addWidget(edOperaCacheDir, 0, 1);
    grid->addWidget(btnOperaCacheDirBrowse, 0, 2);
    grid->setColumnStretch(1, 1);

    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(lblMinimalFileSize);
    sizeRow->addWidget(edOperaMinimalFileSize);
    sizeRow->addWidget(Label4);
    sizeRow->addStretch(1);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(3, 1, 3, 3);
    layout->setSpacing(2);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addSpacing(8);
    layout->addWidget(Label3);
    // Edit1 lines up under the cache dir edit.
    auto* linkRow = new QGridLayout;
    linkRow->setHorizontalSpacing(3);
    linkRow->addItem(new QSpacerItem(lblOperaCacheDir->sizeHint().width(), 0), 0, 0);
    linkRow->addWidget(Edit1, 0, 1);
    linkRow->addItem(new QSpacerItem(23, 0), 0, 2);
    linkRow->setColumnStretch(1, 1);
    layout->addLayout(linkRow);
    layout->addSpacing(8);
    layout->addLayout(sizeRow);
    layout->addWidget(chbOperaUseOnlyG_XXXX);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmSettings::MakeBottomStrip() {
    pnlBottom = new QWidget(this);
    pnlBottom->setObjectName(QStringLiteral("pnlBottom"));
    pnlBottom->setFixedHeight(37);
    btnApply = new QPushButton(QStringLiteral("Apply"), pnlBottom);
    btnApply->setObjectName(QStringLiteral("btnApply"));
    btnApply->setMinimumSize(75, 25);
    btnApply->setAutoDefault(false);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), pnlBottom);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setMinimumSize(75, 25);
    btnCancel->setAutoDefault(false);

    auto* layout = new QHBoxLayout(pnlBottom);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(6);
    layout->addStretch(1);
    layout->addWidget(btnApply);
    layout->addWidget(btnCancel);
    return pnlBottom;
}

void TfrmSettings::showEvent(QShowEvent* event) {
    // A window restored by the window manager is not a new showing.
    if (!event->spontaneous()) {
        FormShow();
        btnApply->setFocus();
    }
    QDialog::showEvent(event);
}

int TfrmSettings::CapacityItemIndex(std::uint32_t maxUiLogLines) {
    for (std::size_t i = 0; i < kCapacities.size(); ++i) {
        if (kCapacities[i] >= maxUiLogLines) {
            return static_cast<int>(i);
        }
    }
    return static_cast<int>(kCapacities.size()) - 1;
}

QString TfrmSettings::DirectoryPart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

void TfrmSettings::FormShow() {
    if (appSettings != nullptr) {
        tmpSettings = *appSettings;
    }
    // The shared handler copies chbAlwaysOnTop into the copy; setting that box first keeps
    // the copy as loaded.
    const Settings loaded = tmpSettings;
    chbAlwaysOnTop->setChecked(loaded.alwaysOnTop);
    chbExitFullscreenOnStop->setChecked(loaded.exitFullScreenOnStop);
    chbLogToFile->setChecked(loaded.logToFile);

    cmbMaxUiLogLines->setCurrentIndex(-1);
    cmbMaxUiLogLines->setCurrentIndex(CapacityItemIndex(loaded.maxUiLogLines));

    shownInstance = FromLocal(loaded.Mplayer.instance);
    shownCacheDir = FromLocal(loaded.Opera.cacheDir);
    edMplayerInstance->setText(shownInstance);
    edOperaCacheDir->setText(shownCacheDir);
    edOperaMinimalFileSize->setText(QString::number(loaded.Opera.minimalFileSize));
    chbOperaUseOnlyG_XXXX->setChecked(loaded.Opera.useOnlyG_XXXX);
    OfferFoundCaches();
}

void TfrmSettings::OfferFoundCaches() {
    mnuFoundCaches->clear();
    const auto caches = findCaches ? findCaches() : std::vector<cache::FoundCache>();
    for (const auto& found : caches) {
        const QString folder = FromLocal(found.folder);
        QAction* action = mnuFoundCaches->addAction(
            QStringLiteral("%1 \u2014 %2").arg(FromLocal(found.label), folder));
        connect(action, &QAction::triggered, this,
                [this, folder] { edOperaCacheDir->setText(folder); });
    }
    // The button's own click still opens the folder chooser; the arrow beside it offers
    // the caches found.
    const bool offer = !caches.empty();
    btnOperaCacheDirBrowse->setMenu(offer ? mnuFoundCaches : nullptr);
    btnOperaCacheDirBrowse->setPopupMode(offer ? QToolButton::MenuButtonPopup
                                               : QToolButton::DelayedPopup);
    btnOperaCacheDirBrowse->setFixedSize(offer ? 35 : 23, 22);
    btnOperaCacheDirBrowse->setToolTip(
        offer ? QStringLiteral("Choose a folder; the arrow offers the browser caches found")
              : QString());
}

void TfrmSettings::chbAlwaysOnTopClick() {
    tmpSettings.alwaysOnTop = chbAlwaysOnTop->isChecked();
}

void TfrmSettings::cmbMaxUiLogLinesChange(int index) {
    if (index >= 0 && index < static_cast<int>(kCapacities.size())) {
        tmpSettings.maxUiLogLines = kCapacities[static_cast<std::size_t>(index)];
    }
}

void TfrmSettings::btnApplyClick() {
    tmpSettings.exitFullScreenOnStop = chbExitFullscreenOnStop->isChecked();
    tmpSettings.logToFile = chbLogToFile->isChecked();
    tmpSettings.Mplayer.instance =
        EditedText(edMplayerInstance, shownInstance, tmpSettings.Mplayer.instance);
    tmpSettings.Opera.cacheDir =
        EditedText(edOperaCacheDir, shownCacheDir, tmpSettings.Opera.cacheDir);
    bool whole = false;
    const int minimalFileSize = edOperaMinimalFileSize->text().toInt(&whole, 10);
    tmpSettings.Opera.minimalFileSize = whole ? minimalFileSize : kDefaultMinimalFileSize;
    tmpSettings.Opera.useOnlyG_XXXX = chbOperaUseOnlyG_XXXX->isChecked();

    if (appSettings != nullptr) {
        *appSettings = tmpSettings;
    }
    accept();
}

void TfrmSettings::btnCancelClick() {
    reject();
}

void TfrmSettings::btnMplayerInstanceBrowseClick() {
    const QString current = edMplayerInstance->text();
    QFileDialog dialog(this);
    dialog.setNameFilter(QStringLiteral("Executables (*)"));
    dialog.setDirectory(DirectoryPart(current));
    dialog.selectFile(current);
    dialog.setOptions(QFileDialog::Options());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        edMplayerInstance->setText(dialog.selectedFiles().constFirst());
    }
}

void TfrmSettings::btnOperaCacheDirBrowseClick() {
    // Read-only: the chooser offers no button for making a folder.
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select directory"), edOperaCacheDir->text(),
        QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
    if (!chosen.isEmpty()) {
        edOperaCacheDir->setText(chosen);
    }
}

void TfrmSettings::btnShowLogWindowClick() {
    if (logWindow != nullptr) {
        logWindow->show();
        logWindow->raise();
        logWindow->activateWindow();
    }
}
