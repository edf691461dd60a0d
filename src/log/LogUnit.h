#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "log/Mutex.h"

class QAction;
class QCheckBox;
class QFrame;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTextCharFormat;
class QTimer;

// The log window. Lines arrive on any thread through OnLogLine and wait in a bounded
// queue; every 500 ms the UI thread moves them into the view in one batch and trims the
// view to maxLines lines.
class TfrmLog : public QWidget {
    Q_OBJECT

  public:
    // Colour values keep the classic layout: 0x00BBGGRR for an RGB value, or
    // 0x80000000 | index for a system colour that is resolved when the line is shown.
    using Color = std::uint32_t;
    static constexpr Color clWindowText = 0x80000008u;

    struct LogEntry {
        Color color = clWindowText;
        std::string text;
    };

    explicit TfrmLog(QWidget* parent = nullptr);
    ~TfrmLog() override;

    // The logger's line sink; any thread. `line` is copied byte for byte.
    void OnLogLine(const char* line);

    // Capacity of the queue and of the view. Any integer may come from the settings
    // file; it is taken as an unsigned number and never allowed past kMostLines, so a
    // hand-edited -1 cannot let a flood of player output take all memory.
    std::atomic<std::int32_t> maxLines{1000};

    // The largest capacity the settings dialog offers, and the most the window holds.
    static constexpr std::uint32_t kMostLines = 10000;

    // Lines in the view: the last line feed ends a line rather than starting an empty one.
    int ViewLineCount() const;

    QPlainTextEdit* redMain = nullptr;
    QFrame* pnlBottom = nullptr;
    QPushButton* btnClear = nullptr;
    QCheckBox* chbAutoScroll = nullptr;
    QTimer* tmrUpdate = nullptr;
    QMenu* pmenuRichEdit = nullptr;
    QAction* miCopy = nullptr;

  public slots:
    void tmrUpdateTimer();
    void btnClearClick();
    void miCopyClick();

  protected:
    void resizeEvent(QResizeEvent* event) override;  // FormResize
    void closeEvent(QCloseEvent* event) override;    // FormClose

  private:
    // The caller holds `mutex`.
    void AddEntry(Color color, std::string text);
    void AppendQueuedEntries();
    void TrimView();
    QTextCharFormat FormatFor(Color color) const;

    Mutex mutex;
    std::deque<LogEntry> entries;
    QString fixedFamily;
};

// The program's one instance, created in main().
extern TfrmLog* frmLog;
