#include "browser/FormMediaBrowser.h"
#include "browser/ScanWait.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

#include "BrowserTestSupport.h"
#include "browser/CachedFilesModel.h"

namespace {

using browsertest::MakeFile;
using testsupport::TempDir;

class MediaBrowserTest : public ::testing::Test {
  protected:
    TempDir cache;
    TfrmMediaBrowser panel;
    int plays = 0;

    void SetUp() override {
        panel.OnPlay = [this] { ++plays; };
        panel.resize(438, 330);
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    }

    // Three files under g_0001: a is oldest and biggest, c is newest and smallest.
    void MakeThree() {
        MakeFile(cache / "g_0001/b", 2048, 20);
        MakeFile(cache / "g_0001/a", 4096, 30);
        MakeFile(cache / "g_0001/c", 1024, 10);
        panel.SetCacheOptions(cache.path(), 0, true);
        EXPECT_TRUE(browsertest::WaitForScan(panel));
    }

    std::vector<std::string> Order() const {
        std::vector<std::string> names;
        for (const auto& entry : panel.scanner.entries) {
            names.push_back(entry.fileName.substr(cache.path().size()));
        }
        return names;
    }

    std::vector<int> Arrows() const {
        return {panel.lvCachedFilesModel->ColumnImage(0), panel.lvCachedFilesModel->ColumnImage(1),
                panel.lvCachedFilesModel->ColumnImage(2)};
    }

    void SelectRow(int row) {
        panel.lvCachedFiles->setCurrentIndex(panel.lvCachedFilesModel->index(row, 0));
    }

    int SelectedRow() const {
        const auto rows = panel.selection->selectedRows();
        return rows.size() == 1 ? rows.front().row() : -1;
    }

    void ClickHeader(int column) {
        QHeaderView* header = panel.lvCachedFiles->header();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    }
};

TEST_F(MediaBrowserTest, StartsOnTheCachePageNewestFirst) {
    EXPECT_EQ(panel.windowTitle(), "frmMediaBrowser");
    EXPECT_EQ(panel.pcSource->currentWidget(), panel.tsOperaCache);
    EXPECT_EQ(panel.pcSource->tabText(0), "Opera cache");
    EXPECT_EQ(panel.pcSource->tabText(1), "Other");
    EXPECT_EQ(panel.edOtherFile->text(), "test.flv");
    EXPECT_EQ(Arrows(), (std::vector<int>{-1, -1, 0}));
    const QHeaderView* header = panel.lvCachedFiles->header();
    EXPECT_EQ(header->sectionSize(0), 142);
    EXPECT_EQ(header->sectionSize(1), 60);
    EXPECT_GE(header->sectionSize(2), 120) << "wider only where the locale's texts need it";
    MakeThree();
    EXPECT_EQ(Order(), (std::vector<std::string>{"/g_0001/c", "/g_0001/b", "/g_0001/a"}));
    EXPECT_EQ(SelectedRow(), -1);
}

TEST_F(MediaBrowserTest, ColumnClicksFromTheStart) {
    MakeThree();
    struct Step {
        int column;
        std::vector<int> arrows;
        std::vector<std::string> order;
    };
    const std::vector<Step> steps = {
        {2, {-1, -1, 1}, {"/g_0001/a", "/g_0001/b", "/g_0001/c"}},  // oldest first
        {2, {-1, -1, 0}, {"/g_0001/c", "/g_0001/b", "/g_0001/a"}},
        {1, {-1, 0, -1}, {"/g_0001/a", "/g_0001/b", "/g_0001/c"}},  // largest first
        {1, {-1, 1, -1}, {"/g_0001/c", "/g_0001/b", "/g_0001/a"}},
        {0, {0, -1, -1}, {"/g_0001/c", "/g_0001/b", "/g_0001/a"}},  // reverse collation
        {0, {1, -1, -1}, {"/g_0001/a", "/g_0001/b", "/g_0001/c"}},
        {2, {-1, -1, 0}, {"/g_0001/c", "/g_0001/b", "/g_0001/a"}},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        ClickHeader(steps[i].column);
        EXPECT_EQ(Arrows(), steps[i].arrows);
        EXPECT_EQ(Order(), steps[i].order);
        EXPECT_EQ(panel.lvCachedFiles->model()->index(0, 0).data().toString().toStdString(),
                  steps[i].order.front());
    }
    // The chosen order outlives a rescan.
    ClickHeader(1);
    panel.Rescan();
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    EXPECT_EQ(Order(), (std::vector<std::string>{"/g_0001/a", "/g_0001/b", "/g_0001/c"}));
}

TEST_F(MediaBrowserTest, SelectionFollowsTheFileAcrossResortsAndRescans) {
    MakeThree();
    SelectRow(1);  // b
    panel.lvCachedFilesColumnClick(1);
    ASSERT_EQ(Order()[1], "/g_0001/b");
    panel.lvCachedFilesColumnClick(2);
    panel.lvCachedFilesColumnClick(2);
    EXPECT_EQ(SelectedRow(), 1);
    panel.lvCachedFilesColumnClick(2);  // newest first again
    EXPECT_EQ(SelectedRow(), 1);

    SelectRow(0);                          // c, the newest
    MakeFile(cache / "g_0001/d", 100, 0);  // newer still: c moves down
    panel.Rescan();
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    EXPECT_EQ(Order()[0], "/g_0001/d");
    EXPECT_EQ(SelectedRow(), 1);
    EXPECT_EQ(panel.lvCachedFiles->currentIndex().row(), 1);
    EXPECT_EQ(panel.GetSelectedFile(), cache / "g_0001/c");

    std::filesystem::remove(cache / "g_0001/c");
    panel.Rescan();
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    EXPECT_EQ(SelectedRow(), -1);
    EXPECT_EQ(panel.GetSelectedFile(), "");

    // Shrinking below the minimal size drops it from the list and from the selection.
    SelectRow(0);                                  // d
    panel.SetCacheOptions(cache.path(), 1, true);  // 1 kB: d (100 bytes) is gone
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    EXPECT_EQ(Order().size(), 2u);
    EXPECT_EQ(SelectedRow(), -1);
}

TEST_F(MediaBrowserTest, ReselectedRowIsScrolledIntoView) {
    for (int i = 0; i < 300; ++i) {
        MakeFile(cache / ("g_0001/f" + std::to_string(1000 + i)), 1000 + i, i);
    }
    panel.SetCacheOptions(cache.path(), 0, true);
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    SelectRow(0);                       // newest: f1000, the smallest
    panel.lvCachedFilesColumnClick(1);  // largest first: f1000 goes to the end
    ASSERT_EQ(SelectedRow(), 299);
    const QRect rect = panel.lvCachedFiles->visualRect(panel.lvCachedFilesModel->index(299, 0));
    EXPECT_TRUE(panel.lvCachedFiles->viewport()->rect().intersects(rect));
}

TEST_F(MediaBrowserTest, EnterAndDoubleClickAskToPlayWithOrWithoutSelection) {
    MakeThree();
    auto* list = panel.lvCachedFiles;
    QSignalSpy activated(list, &QAbstractItemView::activated);

    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(plays, 1);
    EXPECT_EQ(panel.GetSelectedFile(), "");

    SelectRow(2);
    QTest::keyClick(list, Qt::Key_Enter, Qt::ShiftModifier);
    EXPECT_EQ(plays, 2);
    EXPECT_EQ(activated.count(), 1) << "the list still sees the key";
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(plays, 2);
    EXPECT_EQ(panel.GetSelectedFile(), cache / "g_0001/b") << "other keys keep their meaning";

    const QRect row0 = list->visualRect(panel.lvCachedFilesModel->index(0, 0));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row0.center());
    EXPECT_EQ(plays, 3);
    EXPECT_EQ(panel.GetSelectedFile(), cache / "g_0001/c");

    // Below the last row: nothing is selected there, the request still goes out.
    list->clearSelection();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       QPoint(10, list->viewport()->height() - 5));
    EXPECT_EQ(plays, 4);

    panel.OnPlay = nullptr;
    QTest::keyClick(list, Qt::Key_Return);  // not set: nothing to call, nothing breaks
}

TEST_F(MediaBrowserTest, SelectedFileOnBothPages) {
    const std::string odd = MakeFile(cache / "g_0001/\xff\xfe name", 10);
    panel.SetCacheOptions(cache.path() + "/", 0, true);
    EXPECT_TRUE(browsertest::WaitForScan(panel));
    SelectRow(0);
    EXPECT_EQ(panel.GetSelectedFile(), odd) << "the exact bytes of the path";
    EXPECT_EQ(panel.lvCachedFilesModel->index(0, 0).data().toString(),
              QString::fromLocal8Bit("g_0001/\xff\xfe name"));

    panel.SetOtherFile("/videos/clip.flv", false);
    EXPECT_EQ(panel.pcSource->currentWidget(), panel.tsOperaCache);
    EXPECT_EQ(panel.GetSelectedFile(), odd) << "the cache page ignores the edit";
    panel.SetOtherFile("/videos/clip.flv", true);
    EXPECT_EQ(panel.pcSource->currentWidget(), panel.tsOther);
    EXPECT_EQ(panel.GetSelectedFile(), "/videos/clip.flv");
    panel.edOtherFile->setText("  missing file ");
    EXPECT_EQ(panel.GetSelectedFile(), "  missing file ");
    panel.edOtherFile->clear();
    EXPECT_EQ(panel.GetSelectedFile(), "");
}

TEST_F(MediaBrowserTest, FocusGoesToTheActivePagesControl) {
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    panel.FocusFileControl();
    EXPECT_TRUE(panel.lvCachedFiles->hasFocus());
    panel.SetOtherFile("x", true);
    panel.FocusFileControl();
    EXPECT_TRUE(panel.edOtherFile->hasFocus());
}

TEST_F(MediaBrowserTest, OtherPageChooserAndEnter) {
    std::vector<std::pair<QString, QString>> asked;
    QString answer;
    panel.dialogs.chooseOtherFile = [&](const QString& folder, const QString& name) {
        asked.emplace_back(folder, name);
        return answer;
    };
    panel.SetOtherFile("test.flv", true);
    panel.btnMplayerInstanceBrowse->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (std::pair<QString, QString>{"", "test.flv"}));
    EXPECT_EQ(panel.edOtherFile->text(), "test.flv") << "cancel leaves the edit alone";

    answer = "/media/films/a.mov";
    panel.btnMplayerInstanceBrowse->click();
    EXPECT_EQ(panel.edOtherFile->text(), "/media/films/a.mov");
    panel.btnMplayerInstanceBrowse->click();
    EXPECT_EQ(asked[2], (std::pair<QString, QString>{"/media/films", "/media/films/a.mov"}));

    QTest::keyClick(panel.edOtherFile, Qt::Key_Return);
    EXPECT_EQ(plays, 0);
}

// The details list's keys move as in a flat list, and its column widths and the chosen
// row outlast a trip to the thumbnail grid and back.
TEST_F(MediaBrowserTest, DetailsKeysAndColumnWidthsAcrossTheViews) {
    MakeThree();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    QAbstractItemView* list = panel.lvCachedFiles;
    list->setFocus();
    SelectRow(1);
    const struct {
        Qt::Key key;
        int row;
    } moves[] = {{Qt::Key_End, 2},
                 {Qt::Key_Home, 0},
                 {Qt::Key_Right, 0},
                 {Qt::Key_Left, 0},
                 {Qt::Key_Down, 1}};
    for (const auto& move : moves) {
        QTest::keyClick(list, move.key);
        EXPECT_EQ(SelectedRow(), move.row) << "key " << move.key;
    }
    QTest::keyClick(list, Qt::Key_Tab);
    EXPECT_FALSE(list->hasFocus()) << "Tab leaves the list";

    // The border between the first two titles, dragged 40 pixels to the right.
    QHeaderView* header = panel.lvCachedFiles->header();
    const int width = header->sectionSize(0);
    const QPoint border(header->sectionViewportPosition(1) - 1, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseMove(header->viewport(), border + QPoint(20, 0));
    QTest::mouseMove(header->viewport(), border + QPoint(40, 0));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, border + QPoint(40, 0));
    ASSERT_EQ(header->sectionSize(0), width + 40);

    QTest::keyClick(&panel, Qt::Key_1, Qt::ControlModifier);
    ASSERT_TRUE(panel.ThumbnailView());
    EXPECT_EQ(panel.lvThumbnails->currentIndex().row(), 1);
    EXPECT_EQ(panel.GetSelectedFile(), cache / "g_0001/b");
    QTest::keyClick(panel.lvThumbnails, Qt::Key_Right);
    QTest::keyClick(&panel, Qt::Key_2, Qt::ControlModifier);
    ASSERT_FALSE(panel.ThumbnailView());
    EXPECT_EQ(SelectedRow(), 2) << "the row chosen in the grid";
    EXPECT_EQ(header->sectionSize(0), width + 40);
}

// The grid's keys walk its cells as they lie, line by line; a click chooses a cell, a
// double click plays it.
TEST_F(MediaBrowserTest, GridKeysAndClicksFollowTheCells) {
    for (int i = 0; i < 7; ++i) {
        MakeFile(cache / ("g_0001/f" + std::to_string(i)), 1024, 10 * (7 - i));  // f6 newest
    }
    panel.SetCacheOptions(cache.path(), 0, true);
    ASSERT_TRUE(browsertest::WaitForScan(panel));
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    QTest::keyClick(&panel, Qt::Key_1, Qt::ControlModifier);
    ThumbnailGrid* grid = panel.lvThumbnails;
    ASSERT_TRUE(grid->isVisible());
    const int columns =
        (grid->viewport()->width() - ThumbnailGrid::kSpacing) /
        (grid->visualRect(panel.lvCachedFilesModel->index(0, 0)).width() + ThumbnailGrid::kSpacing);
    ASSERT_EQ(columns, 2) << "the moves below are for two cells a line";
    grid->setFocus();
    const struct {
        Qt::Key key;
        int row;
    } moves[] = {{Qt::Key_Home, 0}, {Qt::Key_Right, 1}, {Qt::Key_Down, 3}, {Qt::Key_Down, 5},
                 {Qt::Key_Down, 6}, {Qt::Key_Down, 6},  {Qt::Key_Up, 4},   {Qt::Key_Left, 3},
                 {Qt::Key_Home, 0}, {Qt::Key_Left, 0},  {Qt::Key_End, 6}};
    for (const auto& move : moves) {
        QTest::keyClick(grid, move.key);
        EXPECT_EQ(SelectedRow(), move.row) << "key " << move.key;
    }

    grid->scrollTo(panel.lvCachedFilesModel->index(2, 0));
    const QRect third = grid->visualRect(panel.lvCachedFilesModel->index(2, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(SelectedRow(), 2);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(plays, 1);
    EXPECT_EQ(panel.GetSelectedFile(), cache / "g_0001/f4");
}

}  // namespace
