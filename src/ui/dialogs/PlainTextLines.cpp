#include "ui/dialogs/PlainTextLines.h"

#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

void AppendPlainLine(QTextEdit* ip_view, QString const& i_line)
{
    QScrollBar* const lp_bar = ip_view->verticalScrollBar();
    bool const l_atEnd = lp_bar->value() >= lp_bar->maximum();
    QTextDocument* const lp_document = ip_view->document();
    QTextCursor l_cursor(lp_document);
    l_cursor.movePosition(QTextCursor::End);
    // A plain format: the line must not inherit a link or an image from the text before.
    QTextCharFormat const l_plain;
    if (!lp_document->isEmpty())
        l_cursor.insertBlock(QTextBlockFormat(), l_plain);
    l_cursor.insertText(i_line, l_plain);
    if (l_atEnd)
        lp_bar->setValue(lp_bar->maximum());
}
