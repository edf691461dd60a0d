#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "cache/CacheDiscovery.h"

#include "settings/Settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QToolButton;
class QWidget;
class TfrmLog;

// The settings dialog. It edits a working copy of the owner's record and writes the copy
// back only on Apply; it never touches the settings file and applies nothing itself.
class TfrmSettings : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmSettings(QWidget* parent = nullptr);

    // Set by the owner before every showing.
    Settings* appSettings = nullptr;
    Settings tmpSettings;
    // The window "Show log window" brings up; may stay unset.
    TfrmLog* logWindow = nullptr;
    // The search for this user's browser caches, offered on the cache folder's browse
    // button each time the dialog is shown.
    std::function<std::vector<cache::FoundCache>()> findCaches;

    QTabWidget* pcGeneral = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* pcLogging = nullptr;
    QWidget* tsMplayer = nullptr;
    QWidget* tsOpera = nullptr;

    QCheckBox* chbAlwaysOnTop = nullptr;
    QCheckBox* chbExitFullscreenOnStop = nullptr;
    QPushButton* btnShowLogWindow = nullptr;

    QCheckBox* chbLogToFile = nullptr;
    QLabel* lblUiCapacity = nullptr;
    QComboBox* cmbMaxUiLogLines = nullptr;

    QLabel* lblInstance = nullptr;
    QLineEdit* edMplayerInstance = nullptr;
    QToolButton* btnMplayerInstanceBrowse = nullptr;

    QLabel* lblOperaCacheDir = nullptr;
    QLineEdit* edOperaCacheDir = nullptr;
    QToolButton* btnOperaCacheDirBrowse = nullptr;
    // The caches found, on the browse button's arrow; none when nothing was found.
    QMenu* mnuFoundCaches = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* lblMinimalFileSize = nullptr;
    QLineEdit* edOperaMinimalFileSize = nullptr;
    QLabel* Label4 = nullptr;
    QCheckBox* chbOperaUseOnlyG_XXXX = nullptr;

    QWidget* pnlBottom = nullptr;
    QPushButton* btnApply = nullptr;
    QPushButton* btnCancel = nullptr;

    // The list item shown for a capacity: the first item not below it, else the last.
    static int CapacityItemIndex(std::uint32_t maxUiLogLines);
    // Starting folder of the player chooser: the folder part of the text, or empty.
    static QString DirectoryPart(const QString& path);

  public slots:
    void FormShow();
    void btnApplyClick();
    void btnCancelClick();
    void chbAlwaysOnTopClick();
    void cmbMaxUiLogLinesChange(int index);
    void btnMplayerInstanceBrowseClick();
    void btnOperaCacheDirBrowseClick();
    void btnShowLogWindowClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* MakeGeneralPage();
    QWidget* MakeLoggingPage();
    QWidget* MakeMplayerPage();
    QWidget* MakeOperaPage();
    QWidget* MakeBottomStrip();
    void OfferFoundCaches();

    // The texts as they were loaded: an edit left alone hands back its original bytes,
    // even where they are not valid in the system encoding.
    QString shownInstance;
    QString shownCacheDir;
};

// The program's one instance, created in main().
extern TfrmSettings* frmSettings;
