// The list's context menu: "Go to file" and "Copy file to...".
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QObject>
#include <QProgressDialog>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <filesystem>

#include "BrowserTestSupport.h"
#include "browser/CachedFilesModel.h"
#include "browser/FileManager.h"
#include "browser/FormMediaBrowser.h"
#include "browser/ScanWait.h"
#include "support/SlowDisk.h"

// Stands in for the desktop's file manager on the test's private session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
  public:
    QStringList shownUris;
    QString startupId;
    int calls = 0;

  public slots:
    void ShowItems(const QStringList& uris, const QString& startup) {
        ++calls;
        shownUris = uris;
        startupId = startup;
    }
};

namespace {

using browsertest::MakeFile;
using testsupport::ReadFile;
using testsupport::TempDir;

const char* const kFileManagerService = "org.freedesktop.FileManager1";

class PanelActionsTest : public ::testing::Test {
  protected:
    TempDir cache;
    TempDir elsewhere;
    TfrmMediaBrowser panel;
    std::vector<QString> errors;
    int targetsAsked = 0;
    QString target;

    void SetUp() override {
        panel.dialogs.chooseCopyTarget = [this] {
            ++targetsAsked;
            return target;
        };
        panel.dialogs.showError = [this](const QString& text) { errors.push_back(text); };
    }

    // Lists `path` alone and selects it.
    void ListAndSelect(const std::string& path) {
        panel.SetCacheOptions(std::filesystem::path(path).parent_path().string(), 0, false);
        EXPECT_TRUE(browsertest::WaitForScan(panel));
        ASSERT_EQ(panel.scanner.entries.size(), 1u);
        panel.lvCachedFiles->setCurrentIndex(panel.lvCachedFilesModel->index(0, 0));
        ASSERT_EQ(panel.GetSelectedFile(), path);
    }

    // Presses Esc in the progress dialog once it shows and has the focus, as a window
    // manager gives it to a new dialog; true once the key went in.
    bool PressEscInProgressDialog() {
        auto* progress = panel.findChild<QProgressDialog*>();
        if (progress == nullptr || !progress->isVisible() || progress->windowHandle() == nullptr) {
            return false;
        }
        if (QGuiApplication::focusWindow() != progress->windowHandle()) {
            progress->activateWindow();
            return false;
        }
        QTest::keyClick(progress->windowHandle(), Qt::Key_Escape);
        return true;
    }

    std::size_t EntriesIn(const std::string& folder) const {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) {
            ++count;
        }
        return count;
    }
};

TEST(LocalFileUrl, PercentEncodesEveryByteOutsideTheUnreservedSet) {
    EXPECT_EQ(LocalFileUrl("/cache/g_0001/video-1.flv"), "file:///cache/g_0001/video-1.flv");
    EXPECT_EQ(LocalFileUrl("/a b/%#?\xff\xfe"), "file:///a%20b/%25%23%3F%FF%FE");
    // A relative cache folder is taken from the current one, never read as a host.
    EXPECT_EQ(LocalFileUrl("cache/x"),
              LocalFileUrl(std::filesystem::current_path().string() + "/cache/x"));
}

TEST_F(PanelActionsTest, CopyNeedsASelectionAndAnAnswer) {
    panel.SetCacheOptions(cache.path(), 0, false);
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    panel.miCopyFile->trigger();
    EXPECT_EQ(targetsAsked, 0);

    const std::string source = MakeFile(cache / "clip", 5000);
    ListAndSelect(source);
    target.clear();  // the user cancels the chooser
    panel.miCopyFile->trigger();
    EXPECT_EQ(targetsAsked, 1);
    EXPECT_EQ(EntriesIn(elsewhere.path()), 0u);
    EXPECT_TRUE(errors.empty());
}

TEST_F(PanelActionsTest, CopiesANameThatIsNotUtf8) {
    const std::string source = MakeFile(cache / "vid\xff\xfe\x80", 300000);
    ListAndSelect(source);
    target = QString::fromStdString(elsewhere / "copy.flv");
    panel.miCopyFile->trigger();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(ReadFile(elsewhere / "copy.flv"), ReadFile(source));
    EXPECT_EQ(EntriesIn(elsewhere.path()), 1u);
}

TEST_F(PanelActionsTest, CancelledCopyLeavesNoFile) {
    const std::string source = MakeFile(cache / "big", 8 << 20);
    ListAndSelect(source);
    target = QString::fromStdString(elsewhere / "copy.flv");
    bool cancelled = false;
    // A device slow enough that the copy is still running at the first event-loop turn.
    testsupport::slowWriteBytesPerSecond = 8 << 20;
    panel.dialogs.chooseCopyTarget = [&] {
        // Runs on the first event-loop turn while the copy runs.
        QTimer::singleShot(0, &panel, [&] {
            if (auto* progress = panel.findChild<QProgressDialog*>()) {
                progress->cancel();
                cancelled = true;
            }
        });
        return target;
    };
    panel.miCopyFile->trigger();
    testsupport::slowWriteBytesPerSecond = 0;
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(EntriesIn(elsewhere.path()), 0u) << "neither the target nor a temporary file";
    EXPECT_EQ(panel.findChild<QProgressDialog*>(), nullptr);
}

// The final flush of a slow device: the window keeps running with the progress dialog up,
// and Esc, pressed while the flush runs, cancels the copy rather than waiting for the end
// (and then reaching the main window).
TEST_F(PanelActionsTest, SlowFlushKeepsTheDialogUpAndEscCancels) {
    const std::string source = MakeFile(cache / "clip", 300000);
    ListAndSelect(source);
    testsupport::WriteFile(elsewhere / "copy.flv", "precious");
    target = QString::fromStdString(elsewhere / "copy.flv");
    testsupport::slowFlushMs = 2500;
    const int flushesBefore = testsupport::flushesStarted.load();
    int ticksDuringFlush = 0;
    bool escSent = false;
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (testsupport::flushesStarted.load() == flushesBefore) {
            return;
        }
        ++ticksDuringFlush;
        escSent = escSent || PressEscInProgressDialog();
    });
    ticker.start();
    panel.show();
    panel.miCopyFile->trigger();
    ticker.stop();
    testsupport::slowFlushMs = 0;
    EXPECT_GE(ticksDuringFlush, 3) << "the event loop stood still during the flush";
    EXPECT_TRUE(escSent) << "the progress dialog never showed during the flush";
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(ReadFile(elsewhere / "copy.flv") == "precious") << "the old target was replaced";
    EXPECT_EQ(EntriesIn(elsewhere.path()), 1u) << "no temporary file";
}

TEST_F(PanelActionsTest, CopyOntoItselfIsRefused) {
    const std::string source = MakeFile(cache / "clip", 5000);
    ListAndSelect(source);
    std::filesystem::create_hard_link(source, elsewhere / "link");
    for (const std::string& onto : {source, elsewhere / "link"}) {
        errors.clear();
        target = QString::fromStdString(onto);
        panel.miCopyFile->trigger();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].contains("onto itself"));
    }
    EXPECT_EQ(ReadFile(source), std::string(5000, 'x'));
    EXPECT_EQ(EntriesIn(cache.path()), 1u);
    EXPECT_EQ(EntriesIn(elsewhere.path()), 1u);
}

TEST_F(PanelActionsTest, FailedCopyIsShownAndLeavesNothing) {
    const std::string source = MakeFile(cache / "clip", 5000);
    ListAndSelect(source);
    target = QString::fromStdString(elsewhere / "missing-folder/copy.flv");
    panel.miCopyFile->trigger();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains("missing-folder/copy.flv"));
    EXPECT_EQ(EntriesIn(elsewhere.path()), 0u);
}

// A stand-in xdg-open early in PATH that writes its arguments to a file.
class FakeXdgOpen {
  public:
    FakeXdgOpen() : oldPath_(qgetenv("PATH")) {
        testsupport::WriteFile(bin_ / "xdg-open",
                               "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                                   (bin_ / "args.tmp") + "\"\nmv \"" + (bin_ / "args.tmp") +
                                   "\" \"" + (bin_ / "args") + "\"\n");
        std::filesystem::permissions(bin_ / "xdg-open", std::filesystem::perms::owner_all);
        qputenv("PATH", QByteArray::fromStdString(bin_.path()) + ":" + oldPath_);
    }
    ~FakeXdgOpen() { qputenv("PATH", oldPath_); }
    FakeXdgOpen(const FakeXdgOpen&) = delete;
    FakeXdgOpen& operator=(const FakeXdgOpen&) = delete;

    bool Called() const { return std::filesystem::exists(bin_ / "args"); }
    std::string Arguments() const { return ReadFile(bin_ / "args"); }

  private:
    TempDir bin_;
    QByteArray oldPath_;
};

TEST_F(PanelActionsTest, GoToFileOpensTheFolderWhenNoFileManagerAnswers) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() &&
        bus.interface()->activatableServiceNames().value().contains(kFileManagerService)) {
        GTEST_SKIP() << "a real file manager would answer on this bus";
    }
    FakeXdgOpen opener;
    const std::string file = MakeFile(cache / "g_0001/-x \xff", 10);
    panel.SetCacheOptions(cache.path(), 0, true);
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    panel.miGoToFile->trigger();  // no selection: nothing happens
    QTest::qWait(300);
    EXPECT_FALSE(opener.Called());

    panel.lvCachedFiles->setCurrentIndex(panel.lvCachedFilesModel->index(0, 0));
    panel.miGoToFile->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return opener.Called(); }, 10000));
    EXPECT_EQ(opener.Arguments(), LocalFileUrl(cache / "g_0001").toStdString() + "\n");
}

// Needs a session bus of its own: run under dbus-run-session.
TEST_F(PanelActionsTest, GoToFileAsksTheFileManagerOverDBus) {
    QDBusConnection service =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-file-manager");
    if (!service.isConnected()) {
        GTEST_SKIP() << "no session bus";
    }
    FakeFileManager fileManager;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(kFileManagerService));
    FakeXdgOpen opener;

    const std::string file = MakeFile(cache / "g_0001/video 1\xff", 10);
    panel.SetCacheOptions(cache.path(), 0, true);
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    panel.lvCachedFiles->setCurrentIndex(panel.lvCachedFilesModel->index(0, 0));
    panel.miGoToFile->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileManager.calls > 0; }, 10000));
    EXPECT_EQ(fileManager.shownUris, QStringList{LocalFileUrl(file)});
    EXPECT_EQ(fileManager.shownUris.front(),
              QString::fromStdString("file://" + cache.path() + "/g_0001/video%201%FF"));
    EXPECT_EQ(fileManager.startupId, "");
    QTest::qWait(200);
    EXPECT_FALSE(opener.Called()) << "the file manager answered: no fallback";

    service.unregisterService(kFileManagerService);
    service.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("fake-file-manager");
}

}  // namespace

#include "PanelActionsTest.moc"
