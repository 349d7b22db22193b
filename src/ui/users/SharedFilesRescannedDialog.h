#pragma once

// The report of a rescan of the shared folders: read-only lines of text. Deletes itself
// when closed.

#include <QDialog>
#include <QPlainTextEdit>
#include <QString>

class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SharedFilesRescannedDialog(QWidget* ip_parent = nullptr);

    void Append(QString i_line);

    QPlainTextEdit* TextView() const { return mp_text; }

private:
    QPlainTextEdit* mp_text;
};
