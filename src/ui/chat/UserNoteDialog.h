#pragma once

// The note the user keeps on another user (the user's `user_note` item), shown in the
// user list and the room member lists. At most one dialog is open per user: the user is
// connected to a `user_note_dialog` item keyed by the dialog's address while it lives.
// Save stores the trimmed text (an empty text removes the note) and closes; any close
// destroys the dialog.

#include <QDialog>
#include <QPushButton>
#include <QString>
#include <QTextEdit>

class QHBoxLayout;
class QSpacerItem;
class QVBoxLayout;

class UserNoteDialog : public QDialog
{
    Q_OBJECT

public:
    UserNoteDialog(QString i_user, QWidget* ip_parent = nullptr);
    ~UserNoteDialog() override;

    // Declares `user_note_dialog`; once, after the server connection declared `user`.
    static void Init();
    // The user's open dialog, activated, or a new one; the caller shows it.
    static UserNoteDialog* GetDialog(QString i_user);

    QString User() const { return m_user; }

    QTextEdit* noteEdit;
    QPushButton* saveButton;
    QPushButton* clearButton;

public slots:
    void OnSaveNote();
    void OnClearNote();

private:
    void SetupUi();

    QString m_user;
    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QSpacerItem* horizontalSpacer;
    QSpacerItem* horizontalSpacer_2;
};
