#include "browser/SortArrows.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

class ArrowIconEngine : public QIconEngine {
  public:
    explicit ArrowIconEngine(bool up) : up_(up) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        // Keep the 16:13 proportions inside whatever rectangle we are given.
        const qreal scale =
            qMin(rect.width() / qreal(kSortArrowWidth), rect.height() / qreal(kSortArrowHeight));
        const qreal w = kSortArrowWidth * scale;
        const qreal h = kSortArrowHeight * scale;
        const QPointF origin(rect.x() + (rect.width() - w) / 2, rect.y() + (rect.height() - h) / 2);
        // A solid triangle 9 wide and 5 high in the middle of the 16 x 13 cell.
        const qreal left = origin.x() + 3.5 * scale, right = origin.x() + 12.5 * scale;
        const qreal top = origin.y() + 4 * scale, bottom = origin.y() + 9 * scale;
        const qreal middle = (left + right) / 2;
        QPainterPath path;
        if (up_) {
            path.moveTo(left, bottom);
            path.lineTo(right, bottom);
            path.lineTo(middle, top);
        } else {
            path.moveTo(left, top);
            path.lineTo(right, top);
            path.lineTo(middle, bottom);
        }
        path.closeSubpath();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->fillPath(path, Qt::black);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return result;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        return QSize(kSortArrowWidth, kSortArrowHeight).scaled(size, Qt::KeepAspectRatio);
    }

    QIconEngine* clone() const override { return new ArrowIconEngine(up_); }

  private:
    bool up_;
};

}  // namespace

QIcon SortArrowIcon(int image) {
    if (image != 0 && image != 1) {
        return {};
    }
    return QIcon(new ArrowIconEngine(image == 1));
}
