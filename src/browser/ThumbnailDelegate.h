#pragma once

#include <QStyledItemDelegate>

// Draws a row of the cached-files list as a cell of the thumbnail grid: the picture (or a
// note where there is none yet or none at all), and the name and length under it. Every
// cell has the same size, so that the grid lays out a million rows without measuring one.
class ThumbnailDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    static constexpr int kPictureWidth = 160;
    static constexpr int kPictureHeight = 100;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
