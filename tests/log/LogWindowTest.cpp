// The log window: queue capacity, transfer into the view, trimming, selection and scroll
// position, Clear, Copy, and lines from other threads.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFontDatabase>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QWindow>

#include <string>
#include <thread>
#include <vector>

#include "log/LogUnit.h"

namespace {

std::string Line(int n) {
    return "line " + std::to_string(n) + "\n";
}

QStringList ViewLines(const TfrmLog& log) {
    QStringList lines = log.redMain->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.pop_back();
    }
    return lines;
}

QStringList Expected(int first, int last) {
    QStringList lines;
    for (int n = first; n <= last; ++n) {
        lines << QString::fromStdString("line " + std::to_string(n));
    }
    return lines;
}

class LogWindowTest : public ::testing::Test {
  protected:
    void Log(int first, int last) {
        for (int n = first; n <= last; ++n) {
            log.OnLogLine(Line(n).c_str());
        }
    }
    void Show() {
        log.show();
        QApplication::processEvents();
    }
    void Select(int start, int end) {
        QTextCursor cursor(log.redMain->document());
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        log.redMain->setTextCursor(cursor);
    }

    TfrmLog log;
};

TEST_F(LogWindowTest, StartsHiddenWithItsControls) {
    EXPECT_FALSE(log.isVisible());
    EXPECT_EQ(log.windowTitle(), "Log");
    EXPECT_EQ(log.maxLines, 1000);
    EXPECT_TRUE(log.redMain->isReadOnly());
    EXPECT_TRUE(log.chbAutoScroll->isChecked());
    EXPECT_EQ(log.chbAutoScroll->text(), "Auto Scroll");
    EXPECT_EQ(log.miCopy->text(), "&Copy");
    EXPECT_EQ(log.tmrUpdate->interval(), 500);
    EXPECT_TRUE(log.tmrUpdate->isActive());
}

TEST_F(LogWindowTest, HiddenWindowQueuesOnlyTheNewestLines) {
    log.maxLines = 100;
    Log(1, 150);
    log.tmrUpdateTimer();
    EXPECT_TRUE(ViewLines(log).isEmpty()) << "a hidden window must not take the lines";

    Show();
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(51, 150));
    EXPECT_EQ(log.ViewLineCount(), 100);
}

TEST_F(LogWindowTest, VisibleWindowKeepsTheNewestLinesAcrossTicks) {
    log.maxLines = 100;
    Show();
    Log(1, 60);
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(1, 60));
    Log(61, 130);
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(31, 130));
}

TEST_F(LogWindowTest, CapacityZeroDropsEverythingAndNoneGoesPastTheLargestChoice) {
    Show();
    log.maxLines = 0;
    Log(1, 10);
    log.tmrUpdateTimer();
    EXPECT_TRUE(ViewLines(log).isEmpty());

    // A hand-edited settings file may hold -1 or any large number: the queue of a hidden
    // window and the view both stop at the settings dialog's largest choice.
    log.hide();
    log.maxLines = -1;
    Log(1, 10050);
    Show();
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(51, 10050));

    log.maxLines = 25000;
    Log(10051, 10100);
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(101, 10100));
}

TEST_F(LogWindowTest, ClearEmptiesTheViewOnly) {
    Show();
    Log(1, 3);
    log.tmrUpdateTimer();
    Log(4, 5);  // queued before the Clear: still shown afterwards
    log.btnClearClick();
    EXPECT_TRUE(ViewLines(log).isEmpty());
    Log(6, 6);
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(4, 6));
}

TEST_F(LogWindowTest, LinesKeepTheirExactText) {
    Show();
    log.OnLogLine("2024-01-02 03:04:05.006 caf\xc3\xa9 100%s\xc2\xa0x\n");
    log.OnLogLine(nullptr);
    log.tmrUpdateTimer();
    // The raw text keeps the no-break space that toPlainText() would turn into a blank.
    QString shown = log.redMain->document()->toRawText();
    shown.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    EXPECT_EQ(shown.toStdString(), "2024-01-02 03:04:05.006 caf\xc3\xa9 100%s\xc2\xa0x\n");
}

TEST_F(LogWindowTest, CopyPutsExactlyTheSelectionOnTheClipboard) {
    Show();
    Log(1, 5);  // "line 1\nline 2\n..." : every line is 7 characters with its feed
    log.tmrUpdateTimer();
    Select(7 + 2, 3 * 7 + 4);
    log.miCopyClick();
    EXPECT_EQ(QApplication::clipboard()->text(), "ne 2\nline 3\nline");

    // Nothing selected: the clipboard keeps what it holds.
    Select(7, 7);
    log.miCopyClick();
    EXPECT_EQ(QApplication::clipboard()->text(), "ne 2\nline 3\nline");
}

// The user's way: a right click in the text opens the menu; with nothing selected its
// Copy is disabled and a click on it leaves the clipboard alone, as does Ctrl+C; with a
// selection it copies.
TEST_F(LogWindowTest, CopyFromTheMenuWithNothingSelectedKeepsTheClipboard) {
    Show();
    Log(1, 5);
    log.tmrUpdateTimer();
    QWindow* window = log.windowHandle();
    ASSERT_NE(window, nullptr);
    QWidget* text = log.redMain->viewport();
    const QPoint inText = text->mapTo(&log, QPoint(30, 5));
    const auto clickCopy = [&] {
        QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, inText);
        EXPECT_TRUE(QTest::qWaitFor([&] { return log.pmenuRichEdit->isVisible(); }, 2000));
        QWindow* menu = log.pmenuRichEdit->windowHandle();
        EXPECT_NE(menu, nullptr);
        const bool enabled = log.miCopy->isEnabled();
        if (menu != nullptr) {
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                              log.pmenuRichEdit->actionGeometry(log.miCopy).center());
        }
        log.pmenuRichEdit->hide();
        QApplication::processEvents();
        return enabled;
    };

    QApplication::clipboard()->setText("kept");
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, inText);  // no selection
    ASSERT_FALSE(log.redMain->textCursor().hasSelection());
    EXPECT_FALSE(clickCopy()) << "Copy offered with nothing selected";
    EXPECT_EQ(QApplication::clipboard()->text(), "kept");
    QTest::keyClick(window, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "kept");

    Select(0, 6);
    EXPECT_TRUE(clickCopy());
    EXPECT_EQ(QApplication::clipboard()->text(), "line 1");
}

TEST_F(LogWindowTest, TextUsesAFixedPitchFont) {
    Show();
    Log(1, 1);
    log.tmrUpdateTimer();
    const QString expected = QFontDatabase::families().contains("Courier New", Qt::CaseInsensitive)
                                 ? QString("Courier New")
                                 : QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    QTextCursor cursor(log.redMain->document());
    cursor.setPosition(1);
    EXPECT_EQ(cursor.charFormat().fontFamilies().toStringList(), QStringList{expected});
}

TEST_F(LogWindowTest, EmptyTickLeavesSelectionAndScrollAlone) {
    Show();
    log.chbAutoScroll->setChecked(false);
    Log(1, 200);
    log.tmrUpdateTimer();
    log.redMain->verticalScrollBar()->setValue(40);
    Select(30, 50);
    log.redMain->verticalScrollBar()->setValue(40);
    log.tmrUpdateTimer();
    EXPECT_EQ(log.redMain->textCursor().selectionStart(), 30);
    EXPECT_EQ(log.redMain->textCursor().selectionEnd(), 50);
    EXPECT_EQ(log.redMain->verticalScrollBar()->value(), 40);
}

TEST_F(LogWindowTest, AutoScrollFollowsTheEnd) {
    Show();
    Log(1, 200);
    log.tmrUpdateTimer();
    Select(10, 20);
    Log(201, 210);
    log.tmrUpdateTimer();
    const QTextCursor cursor = log.redMain->textCursor();
    EXPECT_FALSE(cursor.hasSelection());
    EXPECT_TRUE(cursor.atEnd());
    QScrollBar* bar = log.redMain->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(LogWindowTest, WithoutAutoScrollSelectionAndTopLineStay) {
    log.maxLines = 300;
    Show();
    log.chbAutoScroll->setChecked(false);
    Log(1, 200);
    log.tmrUpdateTimer();
    QScrollBar* bar = log.redMain->verticalScrollBar();
    Select(70, 90);
    bar->setValue(50);

    Log(201, 250);  // no trimming yet
    log.tmrUpdateTimer();
    EXPECT_EQ(log.redMain->textCursor().selectionStart(), 70);
    EXPECT_EQ(log.redMain->textCursor().selectionEnd(), 90);
    EXPECT_EQ(bar->value(), 50);
    EXPECT_EQ(log.redMain->cursorForPosition(QPoint(2, 2)).block().text(), "line 51");

    Log(251, 330);  // 30 lines trimmed from the top: the same line number shows newer text
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(31, 330));
    EXPECT_EQ(log.redMain->textCursor().selectionStart(), 70);
    EXPECT_EQ(log.redMain->textCursor().selectionEnd(), 90);
    EXPECT_EQ(bar->value(), 50);
    EXPECT_EQ(log.redMain->cursorForPosition(QPoint(2, 2)).block().text(), "line 81");
}

TEST_F(LogWindowTest, SelectionBeyondTheTrimmedTextIsClamped) {
    log.maxLines = 10;
    Show();
    log.chbAutoScroll->setChecked(false);
    for (int n = 0; n < 10; ++n) {
        log.OnLogLine("a rather long line of text for the view\n");
    }
    log.tmrUpdateTimer();
    const int length = log.redMain->document()->characterCount() - 1;
    Select(length - 3, length);
    for (int n = 0; n < 10; ++n) {
        log.OnLogLine("short\n");
    }
    log.tmrUpdateTimer();
    const int shortLength = log.redMain->document()->characterCount() - 1;
    EXPECT_EQ(shortLength, 60);
    EXPECT_EQ(log.redMain->textCursor().selectionStart(), shortLength);
    EXPECT_EQ(log.redMain->textCursor().selectionEnd(), shortLength);
}

TEST_F(LogWindowTest, CloseOnlyHides) {
    Show();
    EXPECT_TRUE(log.close());
    EXPECT_FALSE(log.isVisible());
    EXPECT_TRUE(log.tmrUpdate->isActive());
    log.maxLines = 5;
    Log(1, 8);
    Show();
    log.tmrUpdateTimer();
    EXPECT_EQ(ViewLines(log), Expected(4, 8));
}

TEST_F(LogWindowTest, LinesFromOtherThreadsArriveInOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    log.maxLines = kThreads * kPerThread;
    Show();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int n = 0; n < kPerThread; ++n) {
                log.OnLogLine(("t" + std::to_string(t) + " " + std::to_string(n) + "\n").c_str());
            }
        });
    }
    for (int i = 0; i < 20; ++i) {
        log.tmrUpdateTimer();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    log.tmrUpdateTimer();

    const QStringList lines = ViewLines(log);
    ASSERT_EQ(lines.size(), kThreads * kPerThread);
    std::vector<int> next(kThreads, 0);
    for (const QString& line : lines) {
        const QStringList parts = line.mid(1).split(' ');
        ASSERT_EQ(parts.size(), 2) << line.toStdString();
        const int thread = parts[0].toInt();
        ASSERT_EQ(parts[1].toInt(), next[thread]++) << line.toStdString();
    }
}

}  // namespace
