#include "ui/chat/UserNoteDialog.h"

#include "store/Data.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextEdit>
#include <QVBoxLayout>

UserNoteDialog::UserNoteDialog(QString i_user, QWidget* ip_parent)
    : QDialog(ip_parent), m_user(std::move(i_user))
{
    setAttribute(Qt::WA_DeleteOnClose);
    SetupUi();
    // As plain text: a note typed with markup must come back as it was typed.
    if (ItemPtr const l_note = (*d["user"])[Value(m_user)]["user_note"])
        noteEdit->setPlainText(l_note.AsString());
    setWindowIcon(QIcon(QStringLiteral(":/icons/note_icon")));
    setWindowTitle(m_user);
}

UserNoteDialog::~UserNoteDialog()
{
    if (ItemPtr const l_node = d["user_note_dialog"]->HasItem(Value(this)))
        l_node.Remove();
}

void UserNoteDialog::SetupUi()
{
    setObjectName(QStringLiteral("UserNoteDialog"));
    resize(400, 300);
    horizontalLayout_2 = new QHBoxLayout(this);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    noteEdit = new QTextEdit(this);
    noteEdit->setObjectName(QStringLiteral("noteEdit"));
    verticalLayout->addWidget(noteEdit);
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    saveButton = new QPushButton(QStringLiteral("Save"), this);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    horizontalLayout->addWidget(saveButton);
    clearButton = new QPushButton(QStringLiteral("Clear"), this);
    clearButton->setObjectName(QStringLiteral("clearButton"));
    horizontalLayout->addWidget(clearButton);
    horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer_2);
    verticalLayout->addLayout(horizontalLayout);
    horizontalLayout_2->addLayout(verticalLayout);

    connect(saveButton, &QPushButton::clicked, this, &UserNoteDialog::OnSaveNote);
    connect(clearButton, &QPushButton::clicked, this, &UserNoteDialog::OnClearNote);
}

void UserNoteDialog::Init()
{
    Type* const lp_dialog = d.NewType("user_note_dialog", Primary, false, true);
    lp_dialog->RelateToType(d["user"], One, One);
}

UserNoteDialog* UserNoteDialog::GetDialog(QString i_user)
{
    ItemPtr const l_user = (*d["user"])[Value(i_user)];
    if (ItemPtr const l_open = l_user["user_note_dialog"]) {
        UserNoteDialog* const lp_dialog = l_open.AsPtr<UserNoteDialog>();
        lp_dialog->activateWindow();
        return lp_dialog;
    }
    UserNoteDialog* const lp_dialog = new UserNoteDialog(i_user);
    l_user += (*d["user_note_dialog"])[Value(lp_dialog)];
    return lp_dialog;
}

void UserNoteDialog::OnSaveNote()
{
    ItemPtr const l_user = (*d["user"])[Value(m_user)];
    QString const l_note = noteEdit->toPlainText().trimmed();
    if (l_note.isEmpty())
        l_user.Disconnect("user_note");
    else
        l_user += (*d["user_note"])[Value(l_note)];
    accept();
}

void UserNoteDialog::OnClearNote()
{
    noteEdit->clear();
}
