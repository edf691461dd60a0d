#include "browser/NoticeLine.h"

#include <QResizeEvent>

NoticeLine::NoticeLine(const char* name, QWidget* parent, Look look) : QLabel(parent) {
    setObjectName(QString::fromLatin1(name));
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setTextFormat(Qt::PlainText);
    if (look == Look::Warning) {
        setMargin(3);
        // Dark text on a pale warning colour, whatever the style's own colours are.
        setStyleSheet(
            QStringLiteral("QLabel { background: #fff4ce; color: #3b2a00; "
                           "border-bottom: 1px solid #e0c86e; }"));
    }
    hide();
}

void NoticeLine::SetNotice(const QString& text) {
    notice = text;
    setToolTip(text);
    setVisible(!text.isEmpty());
    Elide();
}

QSize NoticeLine::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void NoticeLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void NoticeLine::Elide() {
    const int room = std::max(0, contentsRect().width() - 2 * margin());
    setText(fontMetrics().elidedText(notice, Qt::ElideMiddle, room));
}
