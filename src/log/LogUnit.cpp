#include "log/LogUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

TfrmLog* frmLog = nullptr;

namespace {

constexpr int kUpdateIntervalMs = 500;
constexpr TfrmLog::Color kSystemColorFlag = 0x80000000u;

std::uint32_t Capacity(std::int32_t maxLines) {
    return std::min(static_cast<std::uint32_t>(maxLines), TfrmLog::kMostLines);
}

bool ExceedsCapacity(std::size_t count, std::int32_t maxLines) {
    return count > Capacity(maxLines);
}

// "Courier New" where it is installed, else whatever the system calls its fixed-pitch
// font; asking for a missing family would let the font matcher pick a proportional one.
QString FixedPitchFamily() {
    static const QString kPreferred = QStringLiteral("Courier New");
    if (QFontDatabase::families().contains(kPreferred, Qt::CaseInsensitive)) {
        return kPreferred;
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

}  // namespace

TfrmLog::TfrmLog(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log"));
    // Closing the main window ends the program, whether or not the log is on screen.
    setAttribute(Qt::WA_QuitOnClose, false);
    setMinimumSize(200, 80);

    redMain = new QPlainTextEdit(this);
    redMain->setObjectName(QStringLiteral("redMain"));
    redMain->setReadOnly(true);
    redMain->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The view is trimmed on every tick; an undo history would keep every removed line.
    redMain->document()->setUndoRedoEnabled(false);
    redMain->setContextMenuPolicy(Qt::CustomContextMenu);

    pmenuRichEdit = new QMenu(redMain);
    pmenuRichEdit->setObjectName(QStringLiteral("pmenuRichEdit"));
    miCopy = pmenuRichEdit->addAction(QStringLiteral("&Copy"));
    miCopy->setObjectName(QStringLiteral("miCopy"));
    connect(miCopy, &QAction::triggered, this, &TfrmLog::miCopyClick);
    connect(redMain, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // Nothing selected, nothing to copy: the clipboard keeps what it holds.
        miCopy->setEnabled(redMain->textCursor().hasSelection());
        pmenuRichEdit->popup(redMain->viewport()->mapToGlobal(pos));
    });

    pnlBottom = new QFrame(this);
    pnlBottom->setObjectName(QStringLiteral("pnlBottom"));
    pnlBottom->setFrameShape(QFrame::NoFrame);
    pnlBottom->setFixedHeight(30);

    btnClear = new QPushButton(QStringLiteral("Clear"), pnlBottom);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    btnClear->setMinimumSize(73, 20);
    connect(btnClear, &QPushButton::clicked, this, &TfrmLog::btnClearClick);

    chbAutoScroll = new QCheckBox(QStringLiteral("Auto Scroll"), pnlBottom);
    chbAutoScroll->setObjectName(QStringLiteral("chbAutoScroll"));
    chbAutoScroll->setMinimumSize(97, 17);
    chbAutoScroll->setChecked(true);

    auto* bottomLayout = new QHBoxLayout(pnlBottom);
    bottomLayout->setContentsMargins(8, 0, 8, 0);
    bottomLayout->setSpacing(22);
    bottomLayout->addWidget(btnClear);
    bottomLayout->addWidget(chbAutoScroll);
    bottomLayout->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(redMain, 1);
    layout->addWidget(pnlBottom);

    resize(792, 294);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(width() / 2, height() / 2));
    }

    fixedFamily = FixedPitchFamily();

    tmrUpdate = new QTimer(this);
    tmrUpdate->setObjectName(QStringLiteral("tmrUpdate"));
    tmrUpdate->setInterval(kUpdateIntervalMs);
    connect(tmrUpdate, &QTimer::timeout, this, &TfrmLog::tmrUpdateTimer);
    tmrUpdate->start();
}

TfrmLog::~TfrmLog() = default;

void TfrmLog::OnLogLine(const char* line) {
    if (line == nullptr) {
        return;
    }
    // The copy is made before taking the lock so that a running tick is held up by
    // nothing but the queue append.
    std::string text(line);
    ScopedLock<Mutex> lock(mutex);
    AddEntry(clWindowText, std::move(text));
}

void TfrmLog::AddEntry(Color color, std::string text) {
    entries.push_back(LogEntry{color, std::move(text)});
    // One entry per call is enough: the queue never grows by more than one at a time.
    if (ExceedsCapacity(entries.size(), maxLines.load(std::memory_order_relaxed))) {
        entries.pop_front();
    }
}

int TfrmLog::ViewLineCount() const {
    const QTextDocument* document = redMain->document();
    const int blocks = document->blockCount();
    return document->lastBlock().length() <= 1 ? blocks - 1 : blocks;
}

void TfrmLog::tmrUpdateTimer() {
    if (!isVisible()) {
        return;
    }
    ScopedLock<Mutex> lock(mutex);
    if (entries.empty()) {
        return;
    }

    const QTextCursor before = redMain->textCursor();
    const int selectionStart = before.selectionStart();
    const int selectionLength = before.selectionEnd() - selectionStart;
    QScrollBar* scrollBar = redMain->verticalScrollBar();
    const int firstVisibleLine = scrollBar->value();

    redMain->setUpdatesEnabled(false);

    AppendQueuedEntries();
    std::deque<LogEntry>().swap(entries);
    TrimView();

    // Restored as numbers: after trimming they may cover other text, as they always did.
    const int textLength = redMain->document()->characterCount() - 1;
    QTextCursor restored(redMain->document());
    restored.setPosition(std::min(selectionStart, textLength));
    restored.setPosition(std::min(selectionStart + selectionLength, textLength),
                         QTextCursor::KeepAnchor);
    redMain->setTextCursor(restored);

    if (chbAutoScroll->isChecked()) {
        redMain->moveCursor(QTextCursor::End);
        redMain->ensureCursorVisible();
        // The view lays its lines out lazily: with some fonts the range still grows after
        // the cursor has been made visible, and the last line would stay half hidden.
        scrollBar->setValue(scrollBar->maximum());
    } else {
        scrollBar->setValue(firstVisibleLine);
    }

    redMain->setUpdatesEnabled(true);
}

void TfrmLog::AppendQueuedEntries() {
    QTextCursor cursor(redMain->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    // Neighbouring entries of one colour go in as one run: far fewer document edits for
    // the same text and attributes.
    QString run;
    Color runColor = entries.front().color;
    for (const LogEntry& entry : entries) {
        if (entry.color != runColor) {
            cursor.insertText(run, FormatFor(runColor));
            run.clear();
            runColor = entry.color;
        }
        run += QString::fromLocal8Bit(entry.text);
    }
    cursor.insertText(run, FormatFor(runColor));
    cursor.endEditBlock();
}

void TfrmLog::TrimView() {
    const int lines = ViewLineCount();
    const std::int32_t capacity = maxLines.load();
    if (!ExceedsCapacity(static_cast<std::size_t>(lines), capacity)) {
        return;
    }
    const int excess = lines - static_cast<int>(Capacity(capacity));
    QTextDocument* document = redMain->document();
    QTextCursor cursor(document);
    cursor.setPosition(document->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

QTextCharFormat TfrmLog::FormatFor(Color color) const {
    QTextCharFormat format;
    format.setFontFamilies(QStringList{fixedFamily});
    format.setFontFixedPitch(true);
    if ((color & kSystemColorFlag) != 0) {
        // Every system colour this window is asked for is text on the view's background.
        format.setForeground(redMain->palette().color(QPalette::Text));
    } else {
        format.setForeground(QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
    }
    return format;
}

void TfrmLog::btnClearClick() {
    redMain->clear();
}

void TfrmLog::miCopyClick() {
    if (!redMain->textCursor().hasSelection()) {
        return;
    }
    QString text = redMain->textCursor().selectedText();
    // The view separates lines with U+2029; the clipboard gets the line feeds back.
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    QGuiApplication::clipboard()->setText(text);
}

void TfrmLog::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    redMain->viewport()->update();
}

void TfrmLog::closeEvent(QCloseEvent* event) {
    // Closing only hides the window; the queue keeps filling up to maxLines meanwhile.
    event->accept();
}
