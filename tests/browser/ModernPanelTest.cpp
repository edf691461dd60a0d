// The panel over today's caches: sorting by the new columns, the entry handed to play,
// and "Copy file to..." saving the clean body.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTest>
#include <QTreeView>
#include <filesystem>

#include "browser/CachedFilesModel.h"
#include "browser/FormMediaBrowser.h"
#include "browser/ScanWait.h"
#include "support/CacheWriters.h"

using namespace testsupport;

namespace {

std::string Resource(std::size_t size, int seed) {
    std::string bytes = Mp4Body(size);
    for (std::size_t i = 24; i < size; ++i) {
        bytes[i] = static_cast<char>((i * seed) >> 2);
    }
    return bytes;
}

class ModernPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        data = dir / "Cache_Data";
        std::filesystem::create_directories(data);
        WriteChromiumIndex(data);
        WriteFile(data + "/00000000000000a1_0",
                  ChromiumEntryFile(ChromiumKey("https://b.test/whole.mp4"), whole,
                                    ChromiumStream0(ChromiumHttp("video/mp4", whole.size()))));
        WriteFile(data + "/00000000000000a2_0",
                  ChromiumEntryFile(ChromiumKey("https://a.test/stream/videoplayback?id=3"), "",
                                    ChromiumStream0(ChromiumHttp("video/webm"))));
        WriteFile(data + "/00000000000000a2_s",
                  ChromiumSparseFile(ChromiumKey("https://a.test/stream/videoplayback?id=3"),
                                     ChromiumPieces(pieced, 1000)));
        panel.dialogs.chooseCopyTarget = [this] {
            proposals.push_back(panel.proposedCopyName);
            return target;
        };
        panel.dialogs.showError = [this](const QString& text) { errors.push_back(text); };
        panel.resize(900, 330);
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        panel.SetCacheOptions(dir.path(), 0, true);
        EXPECT_TRUE(browsertest::WaitForScan(panel));
        ASSERT_EQ(panel.scanner.entries.size(), 2u);
    }

    void ClickHeader(int column) {
        QHeaderView* header = panel.lvCachedFiles->header();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    }

    QString Cell(int row, int column) const {
        return panel.lvCachedFilesModel->index(row, column).data().toString();
    }

    void Select(const QString& name) {
        for (int row = 0; row < panel.lvCachedFilesModel->rowCount(); ++row) {
            if (Cell(row, CachedFilesModel::kColumnFileName) == name) {
                auto* view = panel.lvCachedFiles;
                const QRect rect = view->visualRect(panel.lvCachedFilesModel->index(row, 0));
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
                return;
            }
        }
        FAIL() << name.toStdString();
    }

    TempDir dir;
    TempDir elsewhere;
    std::string data;
    const std::string whole = Resource(3000, 5);
    const std::string pieced = Resource(4500, 11);
    TfrmMediaBrowser panel;
    QString target;
    std::vector<QString> proposals;
    std::vector<QString> errors;
};

TEST_F(ModernPanelTest, HeaderClicksSortByTypeAndAddressKeepingTheSelection) {
    Select("whole.mp4");
    ClickHeader(CachedFilesModel::kColumnType);  // descending: video/webm first
    EXPECT_EQ(Cell(0, CachedFilesModel::kColumnType), "video/webm");
    EXPECT_EQ(panel.lvCachedFilesModel->ColumnImage(CachedFilesModel::kColumnType), 0);
    ClickHeader(CachedFilesModel::kColumnType);
    EXPECT_EQ(Cell(0, CachedFilesModel::kColumnType), "video/mp4");
    ClickHeader(CachedFilesModel::kColumnAddress);  // descending: b.test first
    EXPECT_EQ(Cell(0, CachedFilesModel::kColumnAddress), "https://b.test/whole.mp4");
    ClickHeader(CachedFilesModel::kColumnAddress);
    EXPECT_EQ(Cell(0, CachedFilesModel::kColumnFileName), "videoplayback");
    EXPECT_EQ(panel.lvCachedFiles->selectionModel()->selectedRows().front().row(), 1);
    EXPECT_EQ(panel.GetSelectedFile(), data + "/00000000000000a1_0");
}

TEST_F(ModernPanelTest, TheSelectedEntryCarriesWhereItsBodyLies) {
    Select("videoplayback");
    cache::Entry entry;
    ASSERT_TRUE(panel.GetSelectedEntry(entry));
    EXPECT_EQ(entry.storage, cache::Storage::Pieces);
    EXPECT_EQ(entry.file, data + "/00000000000000a2_0");
    EXPECT_EQ(entry.piecesFile, data + "/00000000000000a2_s");
    panel.SetOtherFile("/some/file.avi", true);
    ASSERT_TRUE(panel.GetSelectedEntry(entry));
    EXPECT_EQ(entry.file, "/some/file.avi");
    EXPECT_EQ(entry.format, cache::Format::Classic);
    panel.SetOtherFile("", true);
    EXPECT_FALSE(panel.GetSelectedEntry(entry));
}

TEST_F(ModernPanelTest, CopySavesTheCleanBodyUnderTheNameFromTheAddress) {
    Select("whole.mp4");
    target = QString::fromStdString(elsewhere / "one.mp4");
    panel.miCopyFile->trigger();
    Select("videoplayback");
    target = QString::fromStdString(elsewhere / "two.webm");
    panel.miCopyFile->trigger();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(proposals, (std::vector<QString>{"whole.mp4", "videoplayback.webm"}));
    EXPECT_EQ(ReadFile(elsewhere / "one.mp4"), whole);
    EXPECT_EQ(ReadFile(elsewhere / "two.webm"), pieced);

    // Onto the entry's own file: refused, the entry untouched.
    const std::string before = ReadFile(data + "/00000000000000a2_s");
    target = QString::fromStdString(data + "/00000000000000a2_s");
    panel.miCopyFile->trigger();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(ReadFile(data + "/00000000000000a2_s"), before);
}

TEST_F(ModernPanelTest, AnEntryGoneSinceTheScanIsReportedNotCopied) {
    Select("videoplayback");
    std::filesystem::remove(data + "/00000000000000a2_s");
    target = QString::fromStdString(elsewhere / "x.webm");
    panel.miCopyFile->trigger();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "x.webm"));
}

TEST(ProposedFileName, AddsTheTypesExtensionWhereTheNameLacksIt) {
    cache::Entry e;
    e.format = cache::Format::Firefox;
    e.contentType = "video/mp4";
    EXPECT_EQ(TfrmMediaBrowser::ProposedFileName(e, "clip.MP4"), "clip.MP4");
    EXPECT_EQ(TfrmMediaBrowser::ProposedFileName(e, "videoplayback"), "videoplayback.mp4");
    EXPECT_EQ(TfrmMediaBrowser::ProposedFileName(e, ".mp4"), ".mp4.mp4");
    e.contentType = "video/x-unknown";
    EXPECT_EQ(TfrmMediaBrowser::ProposedFileName(e, "name"), "name");
    e.format = cache::Format::Classic;
    EXPECT_EQ(TfrmMediaBrowser::ProposedFileName(e, "name"), "");
}

}  // namespace
