#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

#include "cache/CacheEntry.h"

class QTimer;

// The control bar's time line while a file is loaded: where playback is and how long the
// file is, from the player's own answers, which parts of the file are there, and a bar to
// jump with. A click jumps to the time under the pointer, a drag scrubs (the time under
// the pointer is shown, and the player follows a few times a second), the wheel steps.
// Polling never waits for the player: a player that stops answering leaves the last time
// shown.
class SeekBar : public QWidget {
    Q_OBJECT
  public:
    explicit SeekBar(QWidget* parent);

    static constexpr int kPollMs = 200;
    static constexpr double kWheelStep = 5;  // seconds per notch

    // A file starts, at `startAt` seconds (where it resumes; 0 from its start).
    void Begin(const cache::Entry& playing, double startAt);
    // Nothing plays any more; the last time stays readable.
    void End();
    // Whether the player is asked for the time at all (on by default).
    void SetPolling(bool on);

    double Position() const { return position; }
    // 0 while the player has not told a length (or the file does not say).
    double Length() const { return length; }
    // What the bar says: "1:23 / 10:00", or the time under the pointer during a drag.
    QString TimeText() const;
    // What the bar has room to show of it: a narrow bar may show the position alone.
    QString ShownText() const;
    // The groove the bar's times lie along, in the bar's coordinates.
    QRect Groove() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    using Clock = std::chrono::steady_clock;

    void Poll();
    // The seconds the bar spans: the length, or what is known of the file so far.
    double Span() const;
    // The longest the time text gets for this file.
    QString WidestText() const;
    int TextRoom() const;
    bool Wide() const;
    // The font and text under the groove of a narrow bar.
    std::pair<QFont, QString> NarrowText() const;
    double TimeAt(int x) const;
    void Jump(double seconds);
    void Show(double seconds);

    QTimer* poll;
    bool polling = true;
    bool loaded = false;
    double position = 0;
    double length = 0;
    double streamLength = 0;  // what a joined stream says of its own length
    double knownEnd = 0;      // the furthest point seen, the span where no length is known
    cache::Entry entry;
    std::vector<std::pair<double, double>> present;
    bool lengthFromEntry = false;

    // Answers to queries sent before a jump may still tell the old place: the jump's
    // target is shown until later answers come.
    std::uint64_t answersAtJump = 0;
    Clock::time_point jumped;
    bool holding = false;
    std::uint64_t answersAtQuery = 0;
    Clock::time_point queried;
    int queries = 0;

    bool dragging = false;
    double dragTime = 0;
    Clock::time_point dragSeek;
    int wheelRest = 0;
};
