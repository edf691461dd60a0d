// Files dropped onto the main window, built as the program builds it, with the stand-in
// player as its instance: whatever the first dropped entry is, it reaches the player as
// its exact bytes, and the window closes with nothing left running.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "about/FormAbout.h"
#include "app/FormMain.h"
#include "app/QtSynchronize.h"
#include "browser/FormMediaBrowser.h"
#include "log/LogUnit.h"
#include "platform/Thread.h"
#include "player/Mplayer.h"
#include "settings/FormSettings.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ReadFile;

namespace {

std::string LastRecordedArgument(const std::string& script) {
    const std::string bytes = ReadFile(script + ".argv");
    if (bytes.empty()) {
        return {};
    }
    const std::size_t start = bytes.rfind('\0', bytes.size() - 2);
    return bytes.substr(start + 1, bytes.size() - start - 2);
}

class DropTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallQtSynchronize();
        testsupport::WriteFile(
            dir / "reelvault.ini",
            "[Mplayer]\nInstance=" FAKEPLAYER "\n[Opera]\nCacheDir=" + dir.path() + "\n");
        frmMain = new TfrmMain({dir / "reelvault.ini", dir / "reelvault.log"});
        frmSettings = new TfrmSettings(frmMain);
        frmAbout = new TfrmAbout(frmMain);
        frmLog = new TfrmLog();
        frmMediaBrowser = new TfrmMediaBrowser();
        frmMain->ShowWarning = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
        frmMain->show();
    }
    void TearDown() override {
        frmMain->close();
        EXPECT_TRUE(mplayer.Shutdown(3000ms));
        EXPECT_TRUE(platform::WaitForThreads(2000ms));
        delete frmMain;
        delete frmLog;
        frmMain = nullptr;
        frmSettings = nullptr;
        frmAbout = nullptr;
        frmMediaBrowser = nullptr;
        frmLog = nullptr;
    }

    bool Drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        // Qt hands a drop only to the widget that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(frmMain, &enter);
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frmMain, &drop);
        return drop.isAccepted();
    }

    testsupport::TempDir dir;
};

TEST_F(DropTest, FirstDroppedEntryReachesThePlayerByItsExactBytes) {
    struct Case {
        const char* name;
        std::string path;
        bool folder;
    };
    const Case cases[] = {
        {"folder", dir / "a folder", true},
        {"not UTF-8", dir / "caf\xe9 \xff.flv", false},
        {"newline and quote", dir / "say \"hi\"\n.flv", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.folder) {
            fs::create_directory(c.path);
        } else {
            testsupport::WriteFile(c.path, "out playing\\n\n");
        }
        // The URL carries the bytes percent-encoded, as a file manager sends them.
        const QUrl url =
            QUrl::fromEncoded("file://" + QByteArray::fromStdString(c.path).toPercentEncoding("/"));
        EXPECT_TRUE(Drop({url, QUrl::fromLocalFile(QString::fromLocal8Bit(dir / "second"))}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(c.path + ".argv"); }, 5000))
            << mplayer.CommandLine();
        EXPECT_EQ(LastRecordedArgument(c.path), c.path);
        EXPECT_EQ(frmMain->playState, psPlaying);
    }
}

}  // namespace
