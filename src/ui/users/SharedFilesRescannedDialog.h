#pragma once

// The report of a rescan of the shared folders: read-only lines of text. One per
// rescan; deletes itself when closed.

#include <QDialog>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QString>

class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SharedFilesRescannedDialog(QWidget* ip_parent = nullptr);

    // One new paragraph of plain text.
    void Append(QString i_line);

    QPlainTextEdit* TextView() const { return plainTextEdit; }

    QPlainTextEdit* plainTextEdit;
    QDialogButtonBox* buttonBox;
};
