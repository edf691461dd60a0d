#include "app/AudioOnlyNote.h"

#include <QEvent>
#include <QFontMetrics>

AudioOnlyNote::AudioOnlyNote(QWidget* parent) : QLabel(parent) {
    setObjectName("lblAudioOnly");
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setMargin(12);
    setStyleSheet("QLabel { background: #202020; color: #e8e8e8; border: 1px solid #505050; }");
    // Presses reach the window behind: it is dragged and its right click works.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    parent->installEventFilter(this);
    hide();
}

void AudioOnlyNote::ShowFor(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const QString shown = QString::fromLocal8Bit(name.data(), static_cast<qsizetype>(name.size()));
    setText(QStringLiteral("\u266b  Sound only: this file has no picture\n%1").arg(shown));
    Centre();
    show();
    raise();
}

bool AudioOnlyNote::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize && isVisible()) {
        Centre();
    }
    return QLabel::eventFilter(watched, event);
}

void AudioOnlyNote::Centre() {
    const QWidget* area = parentWidget();
    const int maxWidth = std::max(40, area->width() - 20);
    const QSize hint = sizeHint();
    const int width = std::min(hint.width(), maxWidth);
    if (width < hint.width()) {
        // A long name is cut in the middle rather than pushing the note off the window.
        const QStringList lines = text().split('\n');
        if (lines.size() == 2) {
            setText(lines[0] + '\n' +
                    fontMetrics().elidedText(lines[1], Qt::ElideMiddle, width - 2 * margin()));
        }
    }
    const int height = hint.height();
    setGeometry((area->width() - width) / 2, std::max(0, (area->height() - 35 - height) / 2), width,
                height);
}
