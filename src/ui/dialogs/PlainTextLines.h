#pragma once

// Appending text to a text view as it is: markup in the text is shown literally and
// loads nothing. Lines from the network (user names, file names, server messages) end up
// in log views, so they must never be read as rich text.

#include <QString>

class QTextEdit;

// Appends the line as a new paragraph, or fills the first one of an empty document, as
// QTextEdit::append does; a view scrolled to its end stays at its end.
void AppendPlainLine(QTextEdit* ip_view, QString const& i_line);
