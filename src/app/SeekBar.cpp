#include "app/SeekBar.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "cache/Stream.h"
#include "player/Mplayer.h"
#include "player/PlaybackTime.h"

namespace {

using namespace std::chrono_literals;

constexpr int kMargin = 4;  // room for the handle at either end
// An answer the player owes for this long is taken as lost: polling goes on.
constexpr auto kAnswerDue = 1s;
constexpr auto kHoldAfterJump = 1500ms;
constexpr auto kScrubEvery = 250ms;
// The length is asked with every this many position queries until it is known.
constexpr int kLengthEvery = 5;

QString FromStd(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

SeekBar::SeekBar(QWidget* parent) : QWidget(parent) {
    setObjectName("seekBar");
    // Presses here are the bar's: they drag no window and ask for no display.
    setAttribute(Qt::WA_NoMousePropagation);
    setCursor(Qt::PointingHandCursor);
    setToolTip("Click to jump, drag to scrub, wheel to step; Page Up/Down: previous/next file");
    poll = new QTimer(this);
    poll->setInterval(kPollMs);
    connect(poll, &QTimer::timeout, this, &SeekBar::Poll);
}

void SeekBar::Begin(const cache::Entry& playing, double startAt) {
    loaded = true;
    position = startAt;
    knownEnd = startAt;
    length = 0;
    streamLength = playing.stream ? playing.stream->length : 0;
    entry = playing;
    present = playback::PresentParts(entry, 0);
    // A stream whose manifest tells no length gets its parts placed once the player does.
    lengthFromEntry = !playing.stream || streamLength > 0;
    holding = startAt > 0;
    // Counted from the new player's first answer: the report at hand may still be the
    // last file's, with all its answers.
    answersAtJump = 0;
    jumped = Clock::now();
    answersAtQuery = 0;
    queried = {};
    queries = 0;
    dragging = false;
    if (polling) {
        poll->start();
    }
    update();
}

void SeekBar::End() {
    loaded = false;
    dragging = false;
    poll->stop();
}

void SeekBar::SetPolling(bool on) {
    polling = on;
    if (on && loaded) {
        poll->start();
    } else {
        poll->stop();
    }
}

void SeekBar::Poll() {
    const PlayerReport::Clock clock = mplayer.Time();
    const Clock::time_point now = Clock::now();
    if (clock.length > 0 && clock.length != length) {
        length = clock.length;
        if (!lengthFromEntry) {
            present = playback::PresentParts(entry, length);
        }
    }
    if (holding && (clock.positionAnswers >= answersAtJump + 2 || now - jumped > kHoldAfterJump)) {
        holding = false;
    }
    const QString before = TimeText();
    const double oldPosition = position;
    if (!holding && clock.positionAnswers > answersAtJump) {
        position = clock.position;
    }
    knownEnd = std::max(knownEnd, position);
    // One query at a time: a player that is slow to answer is not buried in them.
    if (clock.positionAnswers != answersAtQuery || now - queried > kAnswerDue) {
        const bool askLength = length <= 0 && queries % kLengthEvery == 0;
        if (mplayer.QueryTime(askLength) == 0) {
            ++queries;
            answersAtQuery = clock.positionAnswers;
            queried = now;
        }
    }
    if (TimeText() != before || std::abs(position - oldPosition) * width() > Span()) {
        update();
    }
}

double SeekBar::Span() const {
    if (length > 0) {
        return length;
    }
    if (streamLength > 0) {
        return streamLength;
    }
    return std::max({knownEnd, position, 1.0});
}

QString SeekBar::TimeText() const {
    const double shownLength = length > 0 ? length : streamLength;
    if (dragging) {
        return FromStd(playback::TimeText(dragTime, shownLength));
    }
    return FromStd(playback::TimeText(position, shownLength));
}

QString SeekBar::WidestText() const {
    const double shownLength = length > 0 ? length : streamLength;
    const double longest = shownLength > 0 ? shownLength : std::max(knownEnd, 600.0);
    return FromStd(playback::TimeText(longest, shownLength));
}

int SeekBar::TextRoom() const {
    // As wide as the text gets, so that the groove keeps its size as the clock runs.
    return fontMetrics().horizontalAdvance(WidestText()) + 8;
}

bool SeekBar::Wide() const {
    return width() >= TextRoom() + 120;
}

QRect SeekBar::Groove() const {
    // Wide: the groove with the time beside it. Narrow: the time under the groove.
    if (Wide()) {
        return {kMargin, height() / 2 - 4, width() - TextRoom() - 2 * kMargin, 8};
    }
    return {kMargin, 4, width() - 2 * kMargin, 8};
}

double SeekBar::TimeAt(int x) const {
    const QRect groove = Groove();
    const double fraction =
        std::clamp(static_cast<double>(x - groove.left()) / std::max(1, groove.width()), 0.0, 1.0);
    return fraction * Span();
}

void SeekBar::Show(double seconds) {
    position = seconds;
    holding = true;
    answersAtJump = mplayer.Time().positionAnswers;
    jumped = Clock::now();
    update();
}

void SeekBar::Jump(double seconds) {
    seconds = std::clamp(seconds, 0.0, Span());
    if (mplayer.SeekTo(seconds) == 0) {
        Show(seconds);
    }
}

void SeekBar::mousePressEvent(QMouseEvent* event) {
    if (!loaded || event->button() != Qt::LeftButton) {
        return;
    }
    dragging = true;
    dragTime = TimeAt(event->position().toPoint().x());
    dragSeek = Clock::now();
    update();
}

void SeekBar::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging) {
        return;
    }
    dragTime = TimeAt(event->position().toPoint().x());
    // The picture follows the scrub, but the player is not flooded with seeks.
    if (Clock::now() - dragSeek >= kScrubEvery) {
        dragSeek = Clock::now();
        Jump(dragTime);
    }
    update();
}

void SeekBar::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging || event->button() != Qt::LeftButton) {
        return;
    }
    dragging = false;
    Jump(TimeAt(event->position().toPoint().x()));
}

void SeekBar::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (!loaded) {
        return;
    }
    const QPoint angle = event->angleDelta();
    wheelRest += angle.y() != 0 ? angle.y() : angle.x();
    const int notches = wheelRest / 120;
    if (notches != 0) {
        wheelRest -= notches * 120;
        // Away from the user is forward, as with the arrow keys' Up.
        Jump(position + notches * kWheelStep);
    }
}

void SeekBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect groove = Groove();
    const double span = Span();
    const auto xOf = [&](double fraction) {
        return groove.left() + std::clamp(fraction, 0.0, 1.0) * groove.width();
    };
    const QColor missing(0x8a, 0x8a, 0x8a);
    const QColor there(0xd8, 0xd8, 0xd8);
    const QColor played(0x2f, 0x6f, 0xc8);

    // The whole file as present, unless the entry says which parts are.
    p.setPen(Qt::NoPen);
    p.setBrush(present.empty() ? there : missing);
    p.drawRoundedRect(groove, 3, 3);
    p.setBrush(there);
    for (const auto& [from, to] : present) {
        p.drawRect(QRectF(xOf(from), groove.top(), xOf(to) - xOf(from), groove.height()));
    }
    const double shown = dragging ? dragTime : position;
    const double fraction = span > 0 ? shown / span : 0;
    p.setBrush(played);
    p.drawRoundedRect(
        QRectF(groove.left(), groove.top() + 2, xOf(fraction) - groove.left(), groove.height() - 4),
        2, 2);
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(xOf(fraction) - 3, groove.top() - 3, 6, groove.height() + 6), 2, 2);

    p.setPen(palette().color(QPalette::WindowText));
    if (Wide()) {
        p.drawText(QRect(groove.right() + 8, 0, width() - groove.right() - 8, height()),
                   Qt::AlignVCenter | Qt::AlignLeft, TimeText());
    } else {
        const auto [font, text] = NarrowText();
        p.setFont(font);
        p.drawText(QRect(0, groove.bottom() + 2, width(), height() - groove.bottom() - 2),
                   Qt::AlignCenter, text);
    }
}

std::pair<QFont, QString> SeekBar::NarrowText() const {
    const QString text = TimeText();
    QFont small = font();
    if (small.pointSizeF() > 0) {
        small.setPointSizeF(small.pointSizeF() * 0.85);
    } else {
        small.setPixelSize(std::max(1, small.pixelSize() * 85 / 100));
    }
    // Sized for the widest text, so that the font stays as the clock runs.
    const QString widest = WidestText();
    for (const QFont& candidate : {font(), small}) {
        if (QFontMetrics(candidate).horizontalAdvance(widest) <= width()) {
            return {candidate, text};
        }
    }
    return {small, text.section(QLatin1Char(' '), 0, 0)};
}

QString SeekBar::ShownText() const {
    return Wide() ? TimeText() : NarrowText().second;
}
