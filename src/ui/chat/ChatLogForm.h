#pragma once

// A viewer of one chat log file. Interim: it shows the file as plain text, read once
// when it opens; clearing the log and opening its folder are not built yet.
//
// Whoever opens it connects the room or the user to a `chat_log_form` item keyed by the
// viewer's address; the destructor removes that item.

#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

class ChatLogForm : public QWidget
{
    Q_OBJECT

public:
    ChatLogForm(QString i_path, QWidget* ip_parent = nullptr);
    ~ChatLogForm() override;

    QPlainTextEdit* LogView() const { return mp_logView; }

private:
    QPlainTextEdit* mp_logView;
};
