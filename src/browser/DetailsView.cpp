#include "browser/DetailsView.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>

DetailsView::DetailsView(QWidget* parent) : QTableView(parent) {
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    // A selected row is no reason to show its columns' titles in bold.
    horizontalHeader()->setHighlightSections(false);
    FitRowHeight();
}

void DetailsView::FitRowHeight() {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Xg");
    const QSize size = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
    verticalHeader()->setDefaultSectionSize(std::max(size.height(), fontMetrics().height()));
}

void DetailsView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        FitRowHeight();
    }
    QTableView::changeEvent(event);
}

QModelIndex DetailsView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex current = currentIndex();
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    const int column = current.isValid() ? current.column() : 0;
    switch (cursorAction) {
        case MoveHome:
            return rows > 0 ? model()->index(0, column, rootIndex()) : QModelIndex();
        case MoveEnd:
            return rows > 0 ? model()->index(rows - 1, column, rootIndex()) : QModelIndex();
        case MoveLeft:
        case MoveRight: {
            QScrollBar* bar = horizontalScrollBar();
            bar->setValue(bar->value() +
                          (cursorAction == MoveLeft ? -bar->singleStep() : bar->singleStep()));
            return current;
        }
        default:
            return QTableView::moveCursor(cursorAction, modifiers);
    }
}
