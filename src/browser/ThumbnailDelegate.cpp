#include "browser/ThumbnailDelegate.h"

#include <QApplication>
#include <QImageReader>
#include <QPainter>
#include <QPixmapCache>

#include "browser/CachedFilesModel.h"

namespace {

constexpr int kMargin = 4;

// The thumbnail at `path` scaled into the picture's box, read once while it stays in
// Qt's pixmap cache (only what is drawn is ever read).
QPixmap Picture(const QString& path) {
    QPixmap pixmap;
    if (QPixmapCache::find(path, &pixmap)) {
        return pixmap;
    }
    QImageReader reader(path, "png");
    const QSize size = reader.size();
    if (size.isValid()) {
        reader.setScaledSize(size.scaled(ThumbnailDelegate::kPictureWidth,
                                         ThumbnailDelegate::kPictureHeight, Qt::KeepAspectRatio));
    }
    pixmap = QPixmap::fromImage(reader.read());
    QPixmapCache::insert(path, pixmap);
    return pixmap;
}

}  // namespace

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int line = option.fontMetrics.height();
    return {kPictureWidth + 2 * kMargin, kPictureHeight + 2 * line + 3 * kMargin};
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    painter->save();
    const QRect cell = option.rect;
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QPalette& palette = option.palette;
    if (selected) {
        painter->fillRect(cell, palette.brush(QPalette::Highlight));
    }
    const QRect box(cell.left() + kMargin, cell.top() + kMargin, kPictureWidth, kPictureHeight);
    const QString path = index.data(CachedFilesModel::kThumbnailRole).toString();
    const QPixmap picture = path.isEmpty() ? QPixmap() : Picture(path);
    if (!picture.isNull()) {
        const QSize size = picture.size();
        painter->drawPixmap(box.left() + (box.width() - size.width()) / 2,
                            box.top() + (box.height() - size.height()) / 2, picture);
    } else {
        painter->fillRect(box, palette.brush(QPalette::Midlight));
        painter->setPen(palette.color(QPalette::Dark));
        painter->drawRect(box.adjusted(0, 0, -1, -1));
        painter->drawText(box, Qt::AlignCenter,
                          index.data(CachedFilesModel::kPlaceholderRole).toString());
    }
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const int line = option.fontMetrics.height();
    const QRect nameLine(cell.left() + kMargin, box.bottom() + kMargin, kPictureWidth, line);
    painter->drawText(
        nameLine, Qt::AlignHCenter | Qt::AlignVCenter,
        option.fontMetrics.elidedText(index.data().toString(), Qt::ElideMiddle, kPictureWidth));
    painter->drawText(nameLine.translated(0, line), Qt::AlignHCenter | Qt::AlignVCenter,
                      index.data(CachedFilesModel::kLengthRole).toString());
    if (option.state.testFlag(QStyle::State_HasFocus)) {
        painter->setPen(QPen(palette.color(QPalette::Text), 1, Qt::DotLine));
        painter->drawRect(cell.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}
