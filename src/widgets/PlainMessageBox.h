#pragma once

// Message boxes whose text is shown exactly as it stands. A text that carries a room
// name or a reason given by the server must never be read as markup: a link in it would
// open the browser, and tags could hide or restyle the rest of the message.

#include <QMessageBox>
#include <QString>

class QWidget;

// A question box without parent, Yes and No, No as default; returns the answer.
QMessageBox::StandardButton AskPlainQuestion(QString const& i_title, QString const& i_text);
// An information box with one OK button.
void ShowPlainInformation(QWidget* ip_parent, QString const& i_title, QString const& i_text);
