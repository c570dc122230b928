#include "MemoLog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QString>
#include <QTextCursor>
#include <QTextDocument>

namespace velkor {

void MemoLog::Clear()
{
    memo_.clear();
    holdsLines_ = false;
}

void MemoLog::AppendLine(std::string_view line)
{
    QTextCursor cursor(memo_.document());
    cursor.movePosition(QTextCursor::End);
    // The first line goes into the empty block the text box always has;
    // every later one (and any line after text the user typed) into a new block.
    if (holdsLines_ || !memo_.document()->isEmpty()) {
        cursor.insertBlock();
    }
    cursor.insertText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    holdsLines_ = true;

    memo_.moveCursor(QTextCursor::End);
    QScrollBar& scrollBar = *memo_.verticalScrollBar();
    scrollBar.setValue(scrollBar.maximum());
    // Paints now rather than at the next turn of the event loop, which a
    // running command does not give back until it ends.
    memo_.repaint();
}

}  // namespace velkor
