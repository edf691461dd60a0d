// The media facts columns as a user meets them: the list shows at once, the facts fill
// in, the columns sort by a click on their header, a row's tooltip shows the thumbnail.

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <QTreeView>
#include <filesystem>

#include "browser/CachedFilesModel.h"
#include "browser/FactsFiller.h"
#include "browser/FormMediaBrowser.h"
#include "browser/ScanWait.h"
#include "media/MediaFacts.h"
#include "support/MediaClips.h"
#include "support/TempDir.h"

namespace {

using testsupport::TempDir;

// The clips are made once for the program.
const TempDir& ClipFolder() {
    static TempDir folder;
    static const bool made = [] {
        bool ok = true;
        for (const testsupport::Clip& clip : testsupport::StandardClips()) {
            ok = testsupport::MakeClip(folder.path(), clip) && ok;
        }
        return ok;
    }();
    EXPECT_TRUE(made);
    return folder;
}

class MediaColumnsTest : public ::testing::Test {
  protected:
    TempDir home;  // $XDG_CACHE_HOME of this test alone
    TempDir cache;
    std::unique_ptr<TfrmMediaBrowser> panel;

    void SetUp() override {
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(home.path()));
        std::filesystem::create_directories(cache / "g_0001");
        const char* names[] = {"faststart.mp4", "clip.webm", "clip.flv", "sound.mp3"};
        for (const char* name : names) {
            std::filesystem::copy_file(ClipFolder() / name,
                                       cache / ("g_0001/" + std::string(name)));
        }
        testsupport::WriteFile(cache / "g_0001/random.bin", testsupport::RandomBytes(300000, 3));
        panel = std::make_unique<TfrmMediaBrowser>();
        panel->resize(700, 330);
        panel->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get()));
    }

    bool WaitUntilFilled() {
        return QTest::qWaitFor([this] { return panel->facts->Done(); }, 60000);
    }

    // Column `column` of every row, top to bottom.
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> texts;
        const QAbstractItemModel* model = panel->lvCachedFiles->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            texts.push_back(model->index(row, column).data().toString().toStdString());
        }
        return texts;
    }

    void ClickHeader(int column) {
        QHeaderView* header = panel->lvCachedFiles->header();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    }
};

TEST_F(MediaColumnsTest, RowsComeFirstThenTheFactsWhichSortByAClick) {
    panel->SetCacheOptions(cache.path(), 0, true);
    EXPECT_TRUE(browsertest::WaitForScan(*panel));
    // The rows are there before the event loop has run once, the facts not yet.
    ASSERT_EQ(panel->lvCachedFiles->model()->rowCount(), 5);
    EXPECT_EQ(Column(CachedFilesModel::kLengthColumn), std::vector<std::string>(5, ""));
    const QAbstractItemModel* model = panel->lvCachedFiles->model();
    EXPECT_EQ(model->headerData(CachedFilesModel::kLengthColumn, Qt::Horizontal), "Length");
    EXPECT_EQ(model->headerData(CachedFilesModel::kPictureColumn, Qt::Horizontal), "Picture");

    ASSERT_TRUE(WaitUntilFilled());
    const std::string dash = media::kDash;
    ClickHeader(CachedFilesModel::kLengthColumn);  // longest first
    EXPECT_EQ(Column(0), (std::vector<std::string>{"/g_0001/sound.mp3", "/g_0001/clip.flv",
                                                   "/g_0001/faststart.mp4", "/g_0001/clip.webm",
                                                   "/g_0001/random.bin"}));
    EXPECT_EQ(Column(CachedFilesModel::kLengthColumn),
              (std::vector<std::string>{"0:09", "0:07", "0:06", "0:04", dash}));
    EXPECT_EQ(panel->lvCachedFilesModel->ColumnImage(CachedFilesModel::kLengthColumn), 0);
    ClickHeader(CachedFilesModel::kLengthColumn);  // shortest first
    EXPECT_EQ(Column(CachedFilesModel::kLengthColumn),
              (std::vector<std::string>{dash, "0:04", "0:06", "0:07", "0:09"}));

    ClickHeader(CachedFilesModel::kPictureColumn);  // largest picture first
    EXPECT_EQ(Column(CachedFilesModel::kPictureColumn),
              (std::vector<std::string>{"320x240 H.264", "320x180 VP8", "176x144 FLV1",
                                        "audio only", dash}));
    EXPECT_EQ(panel->lvCachedFilesModel->ColumnImage(CachedFilesModel::kLengthColumn), -1);

    // The facts outlive a rescan without being read again; a new file is not known yet,
    // so it sorts last, and gets its own (the order stays until the next click).
    std::filesystem::copy_file(ClipFolder() / "faststart.mp4", cache / "g_0001/again.mp4");
    panel->Rescan();
    EXPECT_TRUE(browsertest::WaitForScan(*panel));
    EXPECT_EQ(Column(CachedFilesModel::kPictureColumn),
              (std::vector<std::string>{"320x240 H.264", "320x180 VP8", "176x144 FLV1",
                                        "audio only", dash, ""}));
    ASSERT_TRUE(WaitUntilFilled());
    EXPECT_EQ(Column(CachedFilesModel::kPictureColumn)[5], "320x240 H.264");
    EXPECT_EQ(Column(0)[5], "/g_0001/again.mp4");
}

TEST_F(MediaColumnsTest, TheTooltipOfARowShowsItsThumbnail) {
    panel->SetCacheOptions(cache.path(), 0, true);
    EXPECT_TRUE(browsertest::WaitForScan(*panel));
    ASSERT_TRUE(WaitUntilFilled());
    ClickHeader(CachedFilesModel::kPictureColumn);  // the MP4 on top
    auto* list = panel->lvCachedFiles;
    const QRect row = list->visualRect(list->model()->index(0, 0));
    // What the application sends when the mouse rests over the row.
    QHelpEvent rest(QEvent::ToolTip, row.center(), list->viewport()->mapToGlobal(row.center()));
    QApplication::sendEvent(list->viewport(), &rest);
    ASSERT_TRUE(QToolTip::isVisible());
    const QString tip = QToolTip::text();
    EXPECT_TRUE(
        tip.contains(QStringLiteral("<img src=\"file://") + QString::fromStdString(home.path())))
        << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("0:06"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("H.264 \u00b7 AAC"))) << tip.toStdString();
    QToolTip::hideText();
}

TEST_F(MediaColumnsTest, NothingIsReadWhileAFilePlays) {
    panel->PauseFacts(true);
    panel->SetCacheOptions(cache.path(), 0, true);
    EXPECT_TRUE(browsertest::WaitForScan(*panel));
    QTest::qWait(500);
    EXPECT_EQ(Column(CachedFilesModel::kLengthColumn), std::vector<std::string>(5, ""));
    panel->PauseFacts(false);
    ASSERT_TRUE(WaitUntilFilled());
    EXPECT_EQ(Column(CachedFilesModel::kPictureColumn).size(), 5u);
}

}  // namespace
