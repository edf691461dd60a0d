#include "app/ControlIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace ControlIcons {

namespace {

// Paints in a 20 x 20 design grid scaled to the requested rectangle.
void PaintGlyph(QPainter& p, Glyph glyph) {
    p.fillRect(QRectF(0, 0, 20, 20), Qt::white);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    switch (glyph) {
        case Glyph::Play: {
            const QPointF tri[] = {{6, 4}, {16, 10}, {6, 16}};
            p.drawPolygon(tri, 3);
            break;
        }
        case Glyph::PauseStill: {
            p.drawRect(QRectF(4, 4, 2, 12));
            const QPointF tri[] = {{8.5, 4}, {17, 10}, {8.5, 16}};
            p.drawPolygon(tri, 3);
            break;
        }
        case Glyph::Stop:
            p.drawRect(QRectF(4, 4, 12, 12));
            break;
        case Glyph::Settings: {
            const QColor grey(0x70, 0x70, 0x70);
            QPainterPath cog;
            cog.setFillRule(Qt::OddEvenFill);
            constexpr int kTeeth = 8;
            for (int i = 0; i < kTeeth; ++i) {
                const double a = i * 2 * M_PI / kTeeth;
                QTransform t;
                t.translate(10, 10);
                t.rotateRadians(a);
                QPainterPath tooth;
                tooth.addRect(QRectF(-1.6, -8.5, 3.2, 4));
                cog.addPath(t.map(tooth));
            }
            cog.addEllipse(QPointF(10, 10), 5.8, 5.8);
            p.setBrush(grey);
            p.drawPath(cog.simplified());
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(10, 10), 2.4, 2.4);
            break;
        }
        case Glyph::Minimize:
            p.drawRect(QRectF(4, 14, 12, 2.5));
            break;
        case Glyph::Fullscreen: {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(Qt::black, 1.5));
            p.drawRect(QRectF(6, 7, 8, 6));
            p.setPen(QPen(Qt::black, 1.2));
            p.drawLine(QPointF(10, 6), QPointF(10, 2.5));
            p.drawLine(QPointF(10, 14), QPointF(10, 17.5));
            p.drawLine(QPointF(5, 10), QPointF(1.5, 10));
            p.drawLine(QPointF(15, 10), QPointF(18.5, 10));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            const QPointF up[] = {{8.3, 3.5}, {10, 1}, {11.7, 3.5}};
            const QPointF down[] = {{8.3, 16.5}, {10, 19}, {11.7, 16.5}};
            const QPointF left[] = {{2.5, 8.3}, {0, 10}, {2.5, 11.7}};
            const QPointF right[] = {{17.5, 8.3}, {20, 10}, {17.5, 11.7}};
            p.drawPolygon(up, 3);
            p.drawPolygon(down, 3);
            p.drawPolygon(left, 3);
            p.drawPolygon(right, 3);
            break;
        }
        case Glyph::Close:
            p.setPen(QPen(Qt::black, 2.4, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(QPointF(5, 5), QPointF(15, 15));
            p.drawLine(QPointF(15, 5), QPointF(5, 15));
            break;
        case Glyph::Previous: {
            p.drawRect(QRectF(4, 5, 2, 10));
            const QPointF tri[] = {{16, 5}, {7, 10}, {16, 15}};
            p.drawPolygon(tri, 3);
            break;
        }
        case Glyph::Next: {
            p.drawRect(QRectF(14, 5, 2, 10));
            const QPointF tri[] = {{4, 5}, {13, 10}, {4, 15}};
            p.drawPolygon(tri, 3);
            break;
        }
    }
}

class GlyphEngine : public QIconEngine {
  public:
    explicit GlyphEngine(Glyph glyph) : glyph_(glyph) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 20.0, rect.height() / 20.0);
        PaintGlyph(*painter, glyph_);
        if (mode == QIcon::Disabled) {
            painter->fillRect(QRectF(0, 0, 20, 20), QColor(255, 255, 255, 140));
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pm(size * scale);
        pm.setDevicePixelRatio(scale);
        pm.fill(Qt::transparent);
        QPainter painter(&pm);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

    QIconEngine* clone() const override { return new GlyphEngine(glyph_); }

  private:
    Glyph glyph_;
};

}  // namespace

QIcon Make(Glyph glyph) {
    return QIcon(new GlyphEngine(glyph));
}

}  // namespace ControlIcons
