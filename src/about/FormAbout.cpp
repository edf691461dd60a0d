#include "about/FormAbout.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/FileVersion.h"

TfrmAbout* frmAbout = nullptr;

// The picture is compiled into the windows' static library, whose resources are not
// registered on their own. Q_INIT_RESOURCE must be used outside any namespace.
static void InitAboutResources() {
    Q_INIT_RESOURCE(about);
}

namespace {

// The README: installed beside the program's share folder, else in the source tree the
// program was built from.
QUrl FindDocumentation() {
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString candidates[] = {
        programDir.filePath(QStringLiteral("../share/doc/reelvault/README.md")),
        programDir.filePath(QStringLiteral("README.md")),
        QString::fromLocal8Bit(REELVAULT_SOURCE_README),
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            return QUrl::fromLocalFile(QFileInfo(candidate).canonicalFilePath());
        }
    }
    return QUrl::fromLocalFile(QString::fromLocal8Bit(REELVAULT_SOURCE_README));
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

}  // namespace

const char* TfrmAbout::BuildTimestamp() {
    // Honours SOURCE_DATE_EPOCH, so a reproducible build shows the same time.
    return __DATE__ ", " __TIME__;
}

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      documentationUrl(FindDocumentation()) {
    InitAboutResources();
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About"));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    // Lowered outside, raised inside: the etched box.
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setMinimumSize(281, 161);

    ProgramIcon = MakeLabel(Panel1, "ProgramIcon", QString());
    ProgramIcon->setFixedSize(65, 57);
    ProgramIcon->setPixmap(QIcon(QStringLiteral(":/about/reelvault.svg")).pixmap(QSize(65, 57)));
    ProgramIcon->setAlignment(Qt::AlignCenter);

    ProductName = MakeLabel(Panel1, "ProductName", QGuiApplication::applicationDisplayName());
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    Version = MakeLabel(Panel1, "Version", QStringLiteral("Version"));
    lblVersion =
        MakeLabel(Panel1, "lblVersion",
                  QString::fromLocal8Bit(platform::GetFileVersion(
                      QCoreApplication::applicationFilePath().toLocal8Bit().toStdString())));
    lblBuilt = MakeLabel(Panel1, "lblBuilt", QStringLiteral("Built"));
    lblBuildTimestamp =
        MakeLabel(Panel1, "lblBuildTimestamp", QString::fromLatin1(BuildTimestamp()));

    lblInfo1 = MakeLabel(Panel1, "lblInfo1", QStringLiteral("Visit"));
    lblInfo2 = MakeLabel(Panel1, "lblInfo2",
                         QStringLiteral("<a href=\"%1\">README.md</a>")
                             .arg(documentationUrl.toString(QUrl::FullyEncoded).toHtmlEscaped()));
    lblInfo2->setTextFormat(Qt::RichText);
    lblInfo2->setOpenExternalLinks(false);
    lblInfo2->setCursor(Qt::PointingHandCursor);
    lblInfo2->setToolTip(documentationUrl.toLocalFile());
    connect(lblInfo2, &QLabel::linkActivated, this, [this] { lblInfo2Click(); });
    lblInfo3 = MakeLabel(Panel1, "lblInfo3", QStringLiteral("for updates and documentation."));

    auto* facts = new QGridLayout;
    facts->setHorizontalSpacing(12);
    facts->setVerticalSpacing(4);
    facts->addWidget(ProductName, 0, 0, 1, 2);
    facts->addWidget(Version, 1, 0);
    facts->addWidget(lblVersion, 1, 1);
    facts->addWidget(lblBuilt, 2, 0);
    facts->addWidget(lblBuildTimestamp, 2, 1);
    facts->setColumnStretch(1, 1);

    auto* top = new QHBoxLayout;
    top->setSpacing(15);
    top->addWidget(ProgramIcon, 0, Qt::AlignTop);
    top->addLayout(facts, 1);

    auto* visit = new QHBoxLayout;
    visit->setSpacing(4);
    visit->addWidget(lblInfo1);
    visit->addWidget(lblInfo2);
    visit->addWidget(lblInfo3);
    visit->addStretch(1);

    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(8, 8, 8, 8);
    panelLayout->addLayout(top);
    panelLayout->addStretch(1);
    panelLayout->addLayout(visit);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setMinimumSize(75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(Panel1, 1);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);

    setFixedSize(sizeHint().expandedTo(QSize(298, 213)));
}

void TfrmAbout::lblInfo2Click() {
    // Whether a viewer could be started is not reported, like any other shell failure.
    if (OpenUrl) {
        OpenUrl(documentationUrl);
    }
}
