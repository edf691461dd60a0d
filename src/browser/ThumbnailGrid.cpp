#include "browser/ThumbnailGrid.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <limits>

ThumbnailGrid::ThumbnailGrid(QWidget* parent) : QAbstractItemView(parent) {
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
}

QSize ThumbnailGrid::Cell() const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QSize size = itemDelegate() ? itemDelegate()->sizeHint(option, QModelIndex()) : QSize();
    return size.expandedTo(QSize(1, 1));
}

int ThumbnailGrid::Count() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ThumbnailGrid::Columns() const {
    return std::max(1, (viewport()->width() - kSpacing) / (Cell().width() + kSpacing));
}

QRect ThumbnailGrid::CellRect(int row) const {
    const QSize cell = Cell();
    const int columns = Columns();
    return {kSpacing + (row % columns) * (cell.width() + kSpacing) - horizontalOffset(),
            kSpacing + (row / columns) * (cell.height() + kSpacing) - verticalOffset(),
            cell.width(), cell.height()};
}

std::pair<int, int> ThumbnailGrid::RowsIn(const QRect& area) const {
    const QSize cell = Cell();
    const int columns = Columns();
    const int count = Count();
    const int stepX = cell.width() + kSpacing;
    const int stepY = cell.height() + kSpacing;
    const int top = std::max(0, (area.top() + verticalOffset() - kSpacing) / stepY);
    const int bottom = (area.bottom() + verticalOffset() - kSpacing) / stepY;
    const int left = std::max(0, (area.left() + horizontalOffset() - kSpacing) / stepX);
    const int right = std::min(columns - 1, (area.right() + horizontalOffset() - kSpacing) / stepX);
    if (count == 0 || bottom < top || right < left) {
        return {0, -1};
    }
    const long first = static_cast<long>(top) * columns + left;
    const long last = std::min<long>(static_cast<long>(bottom) * columns + right, count - 1L);
    return {static_cast<int>(std::min<long>(first, count)), static_cast<int>(last)};
}

QRect ThumbnailGrid::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != 0) {
        return {};
    }
    return CellRect(index.row());
}

void ThumbnailGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    updateGeometries();  // after a reset the range may not be known yet
    const QRect cell = visualRect(index.sibling(index.row(), 0));
    const QRect area = viewport()->rect();
    if (!cell.isValid() || (hint == EnsureVisible && area.contains(cell))) {
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    int delta = 0;
    switch (hint) {
        case PositionAtTop:
            delta = cell.top() - kSpacing;
            break;
        case PositionAtBottom:
            delta = cell.bottom() + kSpacing - area.bottom();
            break;
        case PositionAtCenter:
            delta = cell.center().y() - area.center().y();
            break;
        case EnsureVisible:
            delta = cell.top() < area.top() ? cell.top() - kSpacing
                                            : cell.bottom() + kSpacing - area.bottom();
            break;
    }
    bar->setValue(bar->value() + delta);
}

QModelIndex ThumbnailGrid::indexAt(const QPoint& point) const {
    const auto [first, last] = RowsIn(QRect(point, QSize(1, 1)));
    return first == last && CellRect(first).contains(point) ? model()->index(first, 0, rootIndex())
                                                            : QModelIndex();
}

QModelIndex ThumbnailGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int count = Count();
    if (count == 0) {
        return {};
    }
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        return model()->index(0, 0, rootIndex());
    }
    const int row = current.row();
    const int columns = Columns();
    const int lines = std::max(1, viewport()->height() / (Cell().height() + kSpacing));
    long next = row;
    switch (cursorAction) {
        case MoveLeft:
        case MovePrevious:
            next = row - 1;
            break;
        case MoveRight:
        case MoveNext:
            next = row + 1;
            break;
        case MoveUp:
            next = row - columns;
            break;
        case MoveDown:
            // Onto the last cell where the line below ends before this column.
            next = row / columns < (count - 1) / columns ? std::min(row + columns, count - 1) : row;
            break;
        case MovePageUp:
            next = std::max(0L, static_cast<long>(row) - static_cast<long>(columns) * lines);
            break;
        case MovePageDown:
            next =
                std::min(count - 1L, static_cast<long>(row) + static_cast<long>(columns) * lines);
            break;
        case MoveHome:
            next = 0;
            break;
        case MoveEnd:
            next = count - 1;
            break;
    }
    if (next < 0 || next >= count) {
        next = row;
    }
    return model()->index(static_cast<int>(next), 0, rootIndex());
}

int ThumbnailGrid::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int ThumbnailGrid::verticalOffset() const {
    return verticalScrollBar()->value();
}

bool ThumbnailGrid::isIndexHidden(const QModelIndex&) const {
    return false;
}

void ThumbnailGrid::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    QItemSelection chosen;
    const auto [first, last] = RowsIn(rect.normalized());
    for (int row = first; row <= last; ++row) {
        if (CellRect(row).intersects(rect.normalized())) {
            const QModelIndex index = model()->index(row, 0, rootIndex());
            chosen.select(index, index);
        }
    }
    selectionModel()->select(chosen, command);
}

QRegion ThumbnailGrid::visualRegionForSelection(const QItemSelection& selection) const {
    const auto [first, last] = RowsIn(viewport()->rect());
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex()) {
            continue;
        }
        for (int row = std::max(first, range.top()); row <= std::min(last, range.bottom()); ++row) {
            region += CellRect(row);
        }
    }
    return region;
}

void ThumbnailGrid::updateGeometries() {
    const QSize cell = Cell();
    const int lines = (Count() + Columns() - 1) / Columns();
    const long height = kSpacing + static_cast<long>(lines) * (cell.height() + kSpacing);
    QScrollBar* vertical = verticalScrollBar();
    vertical->setSingleStep(cell.height() + kSpacing);
    vertical->setPageStep(viewport()->height());
    vertical->setRange(0, static_cast<int>(std::clamp<long>(height - viewport()->height(), 0,
                                                            std::numeric_limits<int>::max())));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setSingleStep(cell.width() / 4 + 1);
    horizontal->setPageStep(viewport()->width());
    horizontal->setRange(0, std::max(0, 2 * kSpacing + cell.width() - viewport()->width()));
    QAbstractItemView::updateGeometries();
}

void ThumbnailGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State base = option.state;
    const QModelIndex current = currentIndex();
    const auto [first, last] = RowsIn(event->rect());
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, 0, rootIndex());
        option.rect = CellRect(row);
        if (!option.rect.intersects(event->rect())) {
            continue;
        }
        option.state = base;
        if (selectionModel() && selectionModel()->isSelected(index)) {
            option.state |= QStyle::State_Selected;
        }
        if (index == current && hasFocus()) {
            option.state |= QStyle::State_HasFocus;
        }
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

void ThumbnailGrid::resizeEvent(QResizeEvent* event) {
    QAbstractItemView::resizeEvent(event);
    viewport()->update();  // the cells move to other lines
}
