#include "browser/FirstRunPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "browser/NoticeLine.h"

namespace {

QString FromLocal(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

FirstRunPage::FirstRunPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnlFirstRun"));
    lblNoCacheDir = new QLabel(this);
    lblNoCacheDir->setObjectName(QStringLiteral("lblNoCacheDir"));
    lblNoCacheDir->setWordWrap(true);
    lblNoCacheDir->setTextFormat(Qt::PlainText);

    // Many profiles scroll rather than stretch the window.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list = new QWidget;
    list->setObjectName(QStringLiteral("pnlFoundCaches"));
    scroll->setWidget(list);
    // The page's own background shows through.
    scroll->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(lblNoCacheDir);
    layout->addWidget(scroll, 1);
}

void FirstRunPage::SetCaches(const std::vector<cache::FoundCache>& caches) {
    // Rebuilt as a whole: the list is short and changes only when browsers come and go.
    // The old rows go later: this may run inside one of their own clicks.
    delete list->layout();
    buttons.clear();
    for (QWidget* old : list->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }

    if (caches.empty()) {
        lblNoCacheDir->setText(QStringLiteral(
            "No cache folder is set, and no browser cache was found in this user's cache "
            "folders. Set the folder of your browser's disk cache under Configuration "
            "(the cog below) \u2192 Opera \u2192 Cache dir."));
    } else {
        lblNoCacheDir->setText(QStringLiteral(
            "No cache folder is set. These browser caches were found; click one to list "
            "its files (it can be changed under Configuration \u2192 Opera):"));
    }

    auto* grid = new QGridLayout(list);
    grid->setContentsMargins(0, 4, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setColumnStretch(1, 1);
    for (std::size_t i = 0; i < caches.size(); ++i) {
        const auto& found = caches[i];
        auto* button = new QPushButton(FromLocal(found.label), list);
        button->setObjectName(QStringLiteral("btnFoundCache%1").arg(i));
        button->setAutoDefault(false);
        // The path may be long: cut in the middle, where it says least, and the window
        // does not grow for it.
        const QByteArray name = QStringLiteral("lblFoundCache%1").arg(i).toLatin1();
        auto* folder = new NoticeLine(name.constData(), list, NoticeLine::Look::Plain);
        folder->SetNotice(FromLocal(found.folder));
        const int row = static_cast<int>(i);
        grid->addWidget(button, row, 0);
        grid->addWidget(folder, row, 1);
        const std::string path = found.folder;
        connect(button, &QPushButton::clicked, this, [this, path] {
            if (OnChoose) {
                OnChoose(path);
            }
        });
        buttons.push_back(button);
    }
    grid->setRowStretch(static_cast<int>(caches.size()), 1);
}
