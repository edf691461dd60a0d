#include "browser/CachedFilesModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDate>
#include <QImage>
#include <QPixmap>
#include <QTime>

#include "BrowserTestSupport.h"
#include "browser/SortArrows.h"
#include "support/CacheWriters.h"

namespace {

using browsertest::Packed;

QString Cell(const CachedFilesModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

TEST(CachedFilesModel, PassesTheModelTesterThroughReloads) {
    CacheScanner scanner;
    CachedFilesModel model(scanner);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    scanner.cacheDir = "/cache";
    for (int i = 0; i < 50; ++i) {
        scanner.entries.push_back({"/cache/g_0001/f" + std::to_string(i), i * 1000, i});
    }
    model.Reload();
    EXPECT_EQ(model.rowCount(), 50);
    EXPECT_EQ(model.columnCount(), CachedFilesModel::kColumnCount);
    EXPECT_EQ(model.rowCount(model.index(0, 0)), 0);
    model.SetColumnImage(0, 1);
    scanner.entries.clear();
    model.Reload();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.data(model.index(0, 0)).isValid());
}

TEST(CachedFilesModel, RowTexts) {
    CacheScanner scanner;
    CachedFilesModel model(scanner);
    const std::int32_t stamp = Packed(2024, 2, 29, 13, 45, 59);
    scanner.cacheDir = "/cache";
    scanner.entries = {{"/cache/g_0001/video1", 1023, stamp},
                       {"/cache/g_0001/video2", 307200, stamp},
                       {"/cache/top", 1048575, stamp},
                       {"/cache/x", 0, stamp},
                       {"/cache/g_0002/\xff\xfe", 1024 * 1024 * 1024 * 5LL, stamp}};
    model.Reload();
    const QStringList sizes{"0", "300", "1023", "0", "5242880"};
    for (int row = 0; row < sizes.size(); ++row) {
        EXPECT_EQ(Cell(model, row, 1), sizes[row]) << row;
    }
    EXPECT_EQ(Cell(model, 0, 0), "/g_0001/video1");
    EXPECT_EQ(Cell(model, 2, 0), "/top");
    EXPECT_EQ(Cell(model, 4, 0), QString::fromLocal8Bit("/g_0002/\xff\xfe"));

    scanner.cacheDir = "/cache/";
    EXPECT_EQ(Cell(model, 0, 0), "g_0001/video1");
    EXPECT_EQ(Cell(model, 2, 0), "top");

    const QLocale locale = QLocale::system();
    EXPECT_TRUE(Cell(model, 0, 2)
                    .startsWith(locale.toString(QDate(2024, 2, 29), QLocale::ShortFormat) + " "));
}

TEST(CachedFilesModel, TimestampsInAFixedLocale) {
    const QLocale german(QLocale::German, QLocale::Germany);
    // The long time without a zone: a file's time is local, and has none to show.
    EXPECT_EQ(CachedFilesModel::TimestampText(Packed(2023, 12, 31, 12, 0, 1), german),
              "31.12.23 12:00:00");
    const QLocale american(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(CachedFilesModel::TimestampText(Packed(2023, 7, 4, 13, 5, 9), american),
              "7/4/23 1:05:08 PM");
    // Exactly midnight: the date alone, with no trailing blank.
    EXPECT_EQ(CachedFilesModel::TimestampText(Packed(2023, 12, 31, 0, 0, 0), german), "31.12.23");
    // One second past midnight is still 00:00:00 in the two-second format; two are not.
    EXPECT_EQ(CachedFilesModel::TimestampText(Packed(2023, 12, 31, 0, 0, 1), german), "31.12.23");
    EXPECT_EQ(CachedFilesModel::TimestampText(Packed(2023, 12, 31, 0, 0, 2), german),
              "31.12.23 00:00:02");
}

TEST(CachedFilesModel, HeaderTitlesAndArrows) {
    CacheScanner scanner;
    CachedFilesModel model(scanner);
    const QStringList titles{"File name", "Size [kB]", "Timestamp", "Type", "Address"};
    for (int c = 0; c < titles.size(); ++c) {
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), titles[c]);
        EXPECT_FALSE(model.headerData(c, Qt::Horizontal, Qt::DecorationRole).isValid());
    }
    model.SetColumnImage(1, 0);
    EXPECT_EQ(model.ColumnImage(1), 0);
    EXPECT_TRUE(model.headerData(1, Qt::Horizontal, Qt::DecorationRole).isValid());
    EXPECT_EQ(model.ColumnImage(7), -1);
}

// Counts the clearly opaque pixels of one pixel row.
int OpaqueInRow(const QImage& image, int y) {
    int count = 0;
    for (int x = 0; x < image.width(); ++x) {
        count += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
    }
    return count;
}

TEST(SortArrows, DownAndUpAreBlackOnTransparentAtAnyScale) {
    for (int scale : {1, 2, 3}) {
        SCOPED_TRACE(scale);
        const QSize size(kSortArrowWidth * scale, kSortArrowHeight * scale);
        const QImage down = SortArrowIcon(0).pixmap(size).toImage();
        const QImage up = SortArrowIcon(1).pixmap(size).toImage();
        ASSERT_EQ(down.size(), size);
        const int upper = 5 * scale, lower = 8 * scale;
        EXPECT_GT(OpaqueInRow(down, upper), OpaqueInRow(down, lower));
        EXPECT_LT(OpaqueInRow(up, upper), OpaqueInRow(up, lower));
        EXPECT_EQ(qAlpha(down.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(down.pixel(size.width() - 1, size.height() - 1)), 0);
        const QRgb centre = down.pixel(size.width() / 2, size.height() / 2);
        EXPECT_EQ(qAlpha(centre), 255);
        EXPECT_EQ(qGray(centre), 0);
    }
    EXPECT_TRUE(SortArrowIcon(-1).isNull());
}

}  // namespace

namespace {

TEST(CachedFilesModel, ModernRowsShowNameFromTheAddressPartialSizeTypeAndAddress) {
    testsupport::TempDir dir;
    const std::string data = dir / "Cache_Data";
    std::filesystem::create_directories(data);
    testsupport::WriteChromiumIndex(data);
    using testsupport::ChromiumKey;
    const std::string url = "https://v.test/clips/My%20Clip.mp4?sig=1";
    testsupport::WriteFile(
        data + "/00000000000000a1_0",
        testsupport::ChromiumEntryFile(
            ChromiumKey(url), testsupport::Mp4Body(2048),
            testsupport::ChromiumStream0(testsupport::ChromiumHttp("video/mp4", 10240))));
    CacheScanner scanner;
    scanner.SetOptions(data, 0, true);
    scanner.Rescan();
    CachedFilesModel model(scanner);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(Cell(model, 0, CachedFilesModel::kColumnFileName), "My Clip.mp4");
    EXPECT_EQ(Cell(model, 0, CachedFilesModel::kColumnSize), "2 of 10");
    EXPECT_EQ(Cell(model, 0, CachedFilesModel::kColumnType), "video/mp4");
    EXPECT_EQ(Cell(model, 0, CachedFilesModel::kColumnAddress), QString::fromStdString(url));
    EXPECT_TRUE(model.data(model.index(0, CachedFilesModel::kColumnSize), Qt::ToolTipRole)
                    .toString()
                    .contains("2048 of 10240"));
    EXPECT_EQ(CachedFilesModel::PartialSizeText(5000, 0), "4 of ?");
}

TEST(CachedFilesModel, ClassicTypeIsReadOnlyForRowsAskedFor) {
    testsupport::TempDir dir;
    browsertest::MakeFile(dir / "g_0001/a", 10);
    testsupport::WriteFile(dir / "g_0001/v", testsupport::Mp4Body(100));
    CacheScanner scanner;
    scanner.SetOptions(dir.path(), 0, true);
    scanner.Rescan();
    CachedFilesModel model(scanner);
    for (const auto& e : scanner.entries) {
        EXPECT_EQ(e.detail, 0u);
    }
    for (int row = 0; row < 2; ++row) {
        const bool video =
            scanner.entries[static_cast<std::size_t>(row)].fileName == dir / "g_0001/v";
        EXPECT_EQ(Cell(model, row, CachedFilesModel::kColumnType), video ? "video/mp4" : "");
        EXPECT_EQ(Cell(model, row, CachedFilesModel::kColumnAddress), "");
        EXPECT_NE(scanner.entries[static_cast<std::size_t>(row)].detail, 0u);
    }
}

}  // namespace
