// The settings dialog: the working copy, Apply and Cancel, the capacity list and the
// controls' texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <cstdint>
#include <functional>
#include <string>

#include "log/LogUnit.h"
#include "settings/FormSettings.h"
#include "support/TempDir.h"

namespace {

// Field by field: the record's own operator== is defaulted over nested groups that have
// none, so it cannot be used yet.
bool Same(const Settings& a, const Settings& b) {
    return a.appPositionX == b.appPositionX && a.appPositionY == b.appPositionY &&
           a.appHeight == b.appHeight && a.appWidth == b.appWidth && a.maximized == b.maximized &&
           a.alwaysOnTop == b.alwaysOnTop && a.exitFullScreenOnStop == b.exitFullScreenOnStop &&
           a.logToFile == b.logToFile && a.maxUiLogLines == b.maxUiLogLines &&
           a.Mplayer.instance == b.Mplayer.instance && a.Opera.cacheDir == b.Opera.cacheDir &&
           a.Opera.minimalFileSize == b.Opera.minimalFileSize &&
           a.Opera.useOnlyG_XXXX == b.Opera.useOnlyG_XXXX;
}

Settings Sample() {
    Settings s;
    s.appPositionX = 17;
    s.appPositionY = -4;
    s.appHeight = 480;
    s.appWidth = 640;
    s.maximized = true;
    s.alwaysOnTop = false;
    s.exitFullScreenOnStop = true;
    s.logToFile = true;
    s.maxUiLogLines = 2000;
    s.Mplayer.instance = "/usr/bin/mplayer";
    s.Opera.cacheDir = "/home/user/.opera/cache";
    s.Opera.minimalFileSize = 512;
    s.Opera.useOnlyG_XXXX = false;
    return s;
}

class FormSettingsTest : public ::testing::Test {
  protected:
    void Open(Settings& record) {
        dialog.appSettings = &record;
        dialog.show();
        QApplication::processEvents();
    }

    TfrmSettings dialog;
};

TEST_F(FormSettingsTest, HasItsPagesAndTexts) {
    EXPECT_EQ(dialog.windowTitle(), "Settings");
    ASSERT_EQ(dialog.pcGeneral->count(), 4);
    EXPECT_EQ(dialog.pcGeneral->tabText(0), "General");
    EXPECT_EQ(dialog.pcGeneral->tabText(1), "Logging");
    EXPECT_EQ(dialog.pcGeneral->tabText(2), "Mplayer");
    EXPECT_EQ(dialog.pcGeneral->tabText(3), "Opera");
    EXPECT_FALSE(dialog.pcGeneral->isTabVisible(1));
    EXPECT_EQ(dialog.pcGeneral->currentWidget(), dialog.TabSheet1);

    QStringList items;
    for (int i = 0; i < dialog.cmbMaxUiLogLines->count(); ++i) {
        items << dialog.cmbMaxUiLogLines->itemText(i);
    }
    EXPECT_EQ(items, QStringList({"100", "200", "500", "1000", "2000", "5000", "10000"}));
    EXPECT_FALSE(dialog.cmbMaxUiLogLines->isEditable());

    EXPECT_EQ(dialog.Label2->text(), "from \"Select directory\" dialog");
    EXPECT_EQ(dialog.Edit1->text(), "opera:config#UserPrefs|CacheDirectory4");
    EXPECT_TRUE(dialog.Edit1->isReadOnly());
    EXPECT_EQ(dialog.edMplayerInstance->text(), "mplayer.exe");
    EXPECT_EQ(dialog.edOperaMinimalFileSize->text(), "300");
    EXPECT_EQ(dialog.chbOperaUseOnlyG_XXXX->text(), "Scan only g_xxxx subdirectories (Opera 11)");
    EXPECT_GE(dialog.width(), 341);
    EXPECT_GE(dialog.height(), 251);
}

// The Logging page's tab is hidden, so no gesture may reach the page: the wheel over the
// tabs, the arrow keys on the focused tab bar, Ctrl+Tab and Ctrl+Shift+Tab in a page.
TEST_F(FormSettingsTest, HiddenLoggingPageCannotBeReached) {
    Settings record = Sample();
    Open(record);
    QTabWidget* pages = dialog.pcGeneral;
    QTabBar* tabs = pages->tabBar();
    QWindow* window = dialog.windowHandle();
    ASSERT_NE(window, nullptr);
    const auto wheel = [&](int delta) {
        const QPointF at = tabs->mapTo(&dialog, QPointF(tabs->tabRect(0).center()));
        // To the window, which finds the widget under the pointer as for the system's wheel.
        QWheelEvent event(at, dialog.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window, &event);
        QApplication::processEvents();
    };
    const auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window, k, modifiers);
        QApplication::processEvents();
    };
    const auto focusInPage = [&] {
        for (QWidget* child : pages->currentWidget()->findChildren<QWidget*>()) {
            if ((child->focusPolicy() & Qt::TabFocus) != 0) {
                child->setFocus();
                return;
            }
        }
    };
    struct Step {
        const char* name;
        std::function<void()> gesture;
    };
    const Step steps[] = {
        {"wheel towards the next tab", [&] { wheel(-120); }},
        {"wheel towards the previous tab", [&] { wheel(120); }},
        {"right arrow on the tab bar",
         [&] {
             tabs->setFocus();
             key(Qt::Key_Right);
         }},
        {"left arrow on the tab bar",
         [&] {
             tabs->setFocus();
             key(Qt::Key_Left);
         }},
        {"ctrl+tab in a page",
         [&] {
             focusInPage();
             key(Qt::Key_Tab, Qt::ControlModifier);
         }},
        {"ctrl+shift+tab in a page",
         [&] {
             focusInPage();
             key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
         }},
    };
    // From each page the user can be on, each gesture once: Logging is never current.
    for (QWidget* from : {dialog.TabSheet1, dialog.tsMplayer, dialog.tsOpera}) {
        for (const Step& step : steps) {
            pages->setCurrentWidget(from);
            step.gesture();
            EXPECT_NE(pages->currentWidget(), dialog.pcLogging)
                << step.name << " from " << pages->tabText(pages->indexOf(from)).toStdString();
        }
    }
    // The gestures do work: the other pages are reached.
    pages->setCurrentWidget(dialog.TabSheet1);
    tabs->setFocus();
    key(Qt::Key_Right);
    EXPECT_EQ(pages->currentWidget(), dialog.tsMplayer);
}

TEST_F(FormSettingsTest, ShowingLoadsTheControls) {
    Settings record = Sample();
    Open(record);
    EXPECT_FALSE(dialog.chbAlwaysOnTop->isChecked());
    EXPECT_TRUE(dialog.chbExitFullscreenOnStop->isChecked());
    EXPECT_TRUE(dialog.chbLogToFile->isChecked());
    EXPECT_EQ(dialog.cmbMaxUiLogLines->currentText(), "2000");
    EXPECT_EQ(dialog.edMplayerInstance->text(), "/usr/bin/mplayer");
    EXPECT_EQ(dialog.edOperaCacheDir->text(), "/home/user/.opera/cache");
    EXPECT_EQ(dialog.edOperaMinimalFileSize->text(), "512");
    EXPECT_FALSE(dialog.chbOperaUseOnlyG_XXXX->isChecked());
    EXPECT_TRUE(Same(dialog.tmpSettings, record));
}

TEST_F(FormSettingsTest, CapacityShowsTheFirstItemNotBelowIt) {
    const struct {
        std::uint32_t stored;
        const char* shown;
    } cases[] = {{0, "100"},      {100, "100"},     {101, "200"},          {150, "200"},
                 {500, "500"},    {1000, "1000"},   {1001, "2000"},        {5000, "5000"},
                 {5001, "10000"}, {20000, "10000"}, {0xFFFFFFFFu, "10000"}};
    for (const auto& c : cases) {
        Settings record = Sample();
        record.maxUiLogLines = c.stored;
        Open(record);
        EXPECT_EQ(dialog.cmbMaxUiLogLines->currentText().toStdString(), c.shown) << c.stored;
        // Selecting from code does not count as the user's choice.
        EXPECT_EQ(dialog.tmpSettings.maxUiLogLines, c.stored);
        dialog.btnApplyClick();
        EXPECT_EQ(record.maxUiLogLines, c.stored);
    }
}

TEST_F(FormSettingsTest, ApplyWithoutChangesLeavesTheRecordEqual) {
    Settings odd = Sample();
    odd.Mplayer.instance = "/opt/pl\xe4yer/mplayer";  // not valid UTF-8
    odd.Opera.cacheDir = "/tmp/\xff\xfe cache";
    odd.Opera.minimalFileSize = -7;
    Settings defaults;
    for (const Settings& original : {Sample(), odd, defaults}) {
        Settings record = original;
        Open(record);
        dialog.btnApply->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(Same(record, original));
    }
}

TEST_F(FormSettingsTest, ApplyTakesTheEditedValues) {
    Settings record = Sample();
    Open(record);
    dialog.chbAlwaysOnTop->click();
    dialog.chbExitFullscreenOnStop->click();
    dialog.chbLogToFile->click();
    dialog.chbOperaUseOnlyG_XXXX->click();
    emit dialog.cmbMaxUiLogLines->activated(2);
    dialog.edMplayerInstance->setText(QString::fromUtf8("/opt/pl\xc3\xa4yer/mplayer "));
    dialog.edOperaCacheDir->setText("");
    dialog.edOperaMinimalFileSize->setText("1024");
    dialog.btnApply->click();

    Settings expected = Sample();
    expected.alwaysOnTop = true;
    expected.exitFullScreenOnStop = false;
    expected.logToFile = false;
    expected.Opera.useOnlyG_XXXX = true;
    expected.maxUiLogLines = 500;
    expected.Mplayer.instance = "/opt/pl\xc3\xa4yer/mplayer ";  // stored as typed, not trimmed
    expected.Opera.cacheDir = "";
    expected.Opera.minimalFileSize = 1024;
    EXPECT_TRUE(Same(record, expected));
}

TEST_F(FormSettingsTest, MinimalFileSizeFallsBackTo300WhenNotAWholeNumber) {
    const struct {
        const char* text;
        std::int32_t stored;
    } cases[] = {{"abc", 300},
                 {"", 300},
                 {"12kB", 300},
                 {"1.5", 300},
                 {"-5", -5},
                 {"0", 0},
                 {"2147483647", 2147483647},
                 {"2147483648", 300}};
    for (const auto& c : cases) {
        Settings record = Sample();
        Open(record);
        dialog.edOperaMinimalFileSize->setText(c.text);
        dialog.btnApplyClick();
        EXPECT_EQ(record.Opera.minimalFileSize, c.stored) << c.text;
    }
}

TEST_F(FormSettingsTest, CancelAndCloseBoxDropTheCopy) {
    for (const bool viaCloseBox : {false, true}) {
        Settings record = Sample();
        Open(record);
        dialog.chbAlwaysOnTop->click();
        EXPECT_TRUE(dialog.tmpSettings.alwaysOnTop);
        dialog.edOperaMinimalFileSize->setText("1");
        emit dialog.cmbMaxUiLogLines->activated(0);
        if (viaCloseBox) {
            dialog.close();
        } else {
            dialog.btnCancel->click();
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(Same(record, Sample()));

        // The next showing starts again from the owner's record.
        Open(record);
        EXPECT_FALSE(dialog.chbAlwaysOnTop->isChecked());
        EXPECT_TRUE(Same(dialog.tmpSettings, record));
        dialog.btnCancelClick();
    }
}

TEST_F(FormSettingsTest, ShowLogWindowLeavesTheDialogOpen) {
    TfrmLog log;
    dialog.logWindow = &log;
    Settings record = Sample();
    Open(record);
    dialog.btnShowLogWindow->click();
    EXPECT_TRUE(log.isVisible());
    EXPECT_TRUE(dialog.isVisible());
    dialog.btnCancelClick();
}

// Runs `answer` on the chooser the next click opens, once it is up.
void WhenChooserOpens(std::function<void(QFileDialog*)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(chooser, nullptr);
        answer(chooser);
    });
}

TEST_F(FormSettingsTest, PlayerChooserStartsAtTheTypedPathAndTakesTheChoice) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "mplayer", "#!/bin/sh\n");
    testsupport::WriteFile(dir / "other", "#!/bin/sh\n");
    Settings record = Sample();
    record.Mplayer.instance = dir / "mplayer";
    Open(record);

    QStringList filters;
    QString startDir;
    QStringList preselected;
    WhenChooserOpens([&](QFileDialog* chooser) {
        filters = chooser->nameFilters();
        startDir = chooser->directory().absolutePath();
        preselected = chooser->selectedFiles();
        EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFile);
        chooser->selectFile(QString::fromStdString(dir / "other"));
        static_cast<QDialog*>(chooser)->accept();  // public there, dispatched here
    });
    dialog.btnMplayerInstanceBrowse->click();
    EXPECT_EQ(filters, QStringList{"Executables (*)"});
    EXPECT_EQ(startDir, QString::fromStdString(dir.path()));
    EXPECT_EQ(preselected, QStringList{QString::fromStdString(dir / "mplayer")});
    EXPECT_EQ(dialog.edMplayerInstance->text().toStdString(), dir / "other");

    WhenChooserOpens([](QFileDialog* chooser) { chooser->reject(); });
    dialog.btnMplayerInstanceBrowse->click();
    EXPECT_EQ(dialog.edMplayerInstance->text().toStdString(), dir / "other");
    dialog.btnCancelClick();
}

TEST_F(FormSettingsTest, FolderChooserIsTitledAndStartsAtTheTypedFolder) {
    testsupport::TempDir dir;
    QDir(QString::fromStdString(dir.path())).mkdir("cache");
    Settings record = Sample();
    record.Opera.cacheDir = dir.path();
    Open(record);

    QString title;
    QString startDir;
    WhenChooserOpens([&](QFileDialog* chooser) {
        title = chooser->windowTitle();
        startDir = chooser->directory().absolutePath();
        EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
        chooser->selectFile(QString::fromStdString(dir / "cache"));
        static_cast<QDialog*>(chooser)->accept();  // public there, dispatched here
    });
    dialog.btnOperaCacheDirBrowse->click();
    EXPECT_EQ(title, "Select directory");
    EXPECT_EQ(startDir, QString::fromStdString(dir.path()));
    EXPECT_EQ(dialog.edOperaCacheDir->text().toStdString(), dir / "cache");

    WhenChooserOpens([](QFileDialog* chooser) { chooser->reject(); });
    dialog.btnOperaCacheDirBrowse->click();
    EXPECT_EQ(dialog.edOperaCacheDir->text().toStdString(), dir / "cache");
    dialog.btnCancelClick();
}

TEST(FormSettingsDirectoryPart, IsTheFolderOfThePath) {
    EXPECT_EQ(TfrmSettings::DirectoryPart("/usr/bin/mplayer"), "/usr/bin/");
    EXPECT_EQ(TfrmSettings::DirectoryPart("/mplayer"), "/");
    EXPECT_EQ(TfrmSettings::DirectoryPart("mplayer"), "");
    EXPECT_EQ(TfrmSettings::DirectoryPart(""), "");
}

}  // namespace
