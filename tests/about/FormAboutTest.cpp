// The about box: title, the version read back from this test program's own file, the
// build time, the documentation link and OK.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "about/FormAbout.h"

namespace {

TEST(FormAbout, ShowsTitleVersionAndBuildTime) {
    QApplication::setApplicationName("Reelvault");
    TfrmAbout about;
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.ProductName->text(), "Reelvault");
    EXPECT_TRUE(about.ProductName->font().bold());
    EXPECT_EQ(about.Version->text(), "Version");
    // Widget programs carry the project's version in their file, as the program does.
    EXPECT_EQ(about.lblVersion->text(), REELVAULT_VERSION);
    EXPECT_EQ(about.lblBuilt->text(), "Built");
    EXPECT_TRUE(
        QRegularExpression("^[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2}$")
            .match(about.lblBuildTimestamp->text())
            .hasMatch())
        << about.lblBuildTimestamp->text().toStdString();
    EXPECT_EQ(about.lblInfo1->text(), "Visit");
    EXPECT_EQ(about.lblInfo3->text(), "for updates and documentation.");
    EXPECT_FALSE(about.ProgramIcon->pixmap().isNull());
    EXPECT_GE(about.width(), 298);
    EXPECT_GE(about.height(), 213);
}

TEST(FormAbout, LinkOpensTheDocumentation) {
    TfrmAbout about;
    std::vector<QUrl> opened;
    about.OpenUrl = [&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    emit about.lblInfo2->linkActivated(about.documentationUrl.toString());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], about.documentationUrl);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_TRUE(QFileInfo(opened[0].toLocalFile()).isFile()) << opened[0].toString().toStdString();
    EXPECT_EQ(about.lblInfo2->cursor().shape(), Qt::PointingHandCursor);
}

TEST(FormAbout, OkIsTheDefaultAndAccepts) {
    TfrmAbout about;
    about.show();
    EXPECT_TRUE(about.OKButton->isDefault());
    EXPECT_EQ(about.OKButton->text(), "OK");
    about.OKButton->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

}  // namespace
