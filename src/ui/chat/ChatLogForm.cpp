#include "ui/chat/ChatLogForm.h"

#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/UIFunctions.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QStringList>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace
{
// One read takes at most this many bytes, up to and including a line feed; a longer
// line arrives in pieces, each its own paragraph.
constexpr qint64 c_readBuffer = 65536;
} // namespace

ChatLogForm::ChatLogForm(QString i_path, QWidget* ip_parent) : QWidget(ip_parent)
{
    SetupUi();
    searchBackButton->setIcon(QIcon(QStringLiteral(":/icons/back_icon")));
    searchForwardButton->setIcon(QIcon(QStringLiteral(":/icons/forward_icon")));
    searchBackButton->setEnabled(false);
    searchForwardButton->setEnabled(false);
    RegisterWidgetForTabFocus(searchEdit, 1);

    QFile l_file(i_path);
    if (!l_file.open(QIODevice::ReadOnly))
        return;
    QStringList l_lines;
    while (!l_file.atEnd()) {
        QByteArray const l_piece = l_file.readLine(c_readBuffer);
        if (l_piece.isEmpty())
            break;
        l_lines.append(QString::fromUtf8(l_piece).trimmed());
    }
    // One paragraph per piece, set in one go: appending them one by one costs many
    // times as much for a long log.
    logEdit->setUpdatesEnabled(false);
    logEdit->setPlainText(l_lines.join(u'\n'));
    logEdit->setUpdatesEnabled(true);

    m_logPath = i_path;
    if (actionBar) {
        actionBar->RegisterWidget(this, QStringLiteral("chat_log"));
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatLogForm::OnActionTriggered);
    }
}

ChatLogForm::~ChatLogForm()
{
    if (ItemPtr const l_node = d["chat_log_form"]->HasItem(Value(this)))
        l_node.Remove();
}

void ChatLogForm::SetupUi()
{
    setObjectName(QStringLiteral("ChatLogForm"));
    resize(463, 354);
    setWindowTitle(QStringLiteral("Form"));
    horizontalLayout_2 = new QHBoxLayout(this);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    searchEdit = new QLineEdit(this);
    searchEdit->setObjectName(QStringLiteral("searchEdit"));
    searchEdit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    horizontalLayout->addWidget(searchEdit);
    searchBackButton = new QPushButton(this);
    searchBackButton->setObjectName(QStringLiteral("searchBackButton"));
    searchBackButton->setIconSize(QSize(16, 16));
    horizontalLayout->addWidget(searchBackButton);
    searchForwardButton = new QPushButton(this);
    searchForwardButton->setObjectName(QStringLiteral("searchForwardButton"));
    searchForwardButton->setIconSize(QSize(16, 16));
    horizontalLayout->addWidget(searchForwardButton);
    verticalLayout->addLayout(horizontalLayout);
    logEdit = new QTextEdit(this);
    logEdit->setObjectName(QStringLiteral("logEdit"));
    logEdit->setReadOnly(true);
    verticalLayout->addWidget(logEdit);
    horizontalLayout_2->addLayout(verticalLayout);

    connect(searchEdit, &QLineEdit::textChanged, this, &ChatLogForm::OnSearchTextChanged);
    connect(searchBackButton, &QPushButton::clicked, this, &ChatLogForm::OnSearchBack);
    connect(searchForwardButton, &QPushButton::clicked, this, &ChatLogForm::OnSearchForward);
}

ChatLogForm* ChatLogForm::Open(ChatLogKind i_kind, QString const& i_name, QTabWidget* ip_tabs,
                               QWidget* ip_parent)
{
    ItemPtr const l_owner = (*d[i_kind == ChatLogKind::Room ? "room" : "user"])[Value(i_name)];
    if (ItemPtr const l_open = l_owner["chat_log_form"]) {
        ChatLogForm* const lp_open = l_open.AsPtr<ChatLogForm>();
        FocusWidgetAndParents(lp_open);
        return lp_open;
    }
    ChatLogForm* const lp_viewer = new ChatLogForm(ChatLogPath(i_kind, i_name), ip_parent);
    if (ip_tabs)
        ip_tabs->addTab(lp_viewer, QIcon(QStringLiteral(":/icons/note_icon")),
                        EscapeMnemonics(i_name));
    l_owner += (*d["chat_log_form"])[Value(lp_viewer)];
    FocusWidgetAndParents(lp_viewer);
    return lp_viewer;
}

void ChatLogForm::AddLine(QString i_line)
{
    // As QTextEdit::append places a paragraph, but always as plain text.
    QTextDocument* const lp_document = logEdit->document();
    QTextCursor l_cursor(lp_document);
    l_cursor.movePosition(QTextCursor::End);
    if (!lp_document->isEmpty())
        l_cursor.insertBlock();
    l_cursor.insertText(i_line.trimmed());
}

int ChatLogForm::MatchStart() const
{
    QTextCursor const l_cursor = logEdit->textCursor();
    return l_cursor.hasSelection() ? l_cursor.selectionStart() : l_cursor.position();
}

void ChatLogForm::OnSearchTextChanged(QString i_text)
{
    logEdit->setUpdatesEnabled(false);
    logEdit->moveCursor(QTextCursor::Start);
    searchBackButton->setEnabled(false);
    searchForwardButton->setEnabled(false);
    if (!i_text.isEmpty() && logEdit->find(i_text))
        MarkFind();
    else
        logEdit->setExtraSelections({});
    logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::MarkFind()
{
    QTextDocument* const lp_document = logEdit->document();
    int const l_end = logEdit->textCursor().position();
    int const l_start = l_end - static_cast<int>(searchEdit->text().size());

    QTextEdit::ExtraSelection l_match;
    l_match.cursor = QTextCursor(lp_document);
    l_match.cursor.setPosition(l_start);
    l_match.cursor.setPosition(l_end, QTextCursor::KeepAnchor);
    l_match.format.setForeground(QColor(GetSetting("color_input_background")));
    l_match.format.setBackground(QColor(GetSetting("color_input_text")));
    logEdit->setExtraSelections({l_match});

    MarkSearchButtons();

    // Through the end first, so that the match ends up at the top of the view.
    QTextCursor l_cursor(lp_document);
    l_cursor.movePosition(QTextCursor::End);
    logEdit->setTextCursor(l_cursor);
    logEdit->ensureCursorVisible();
    l_cursor.setPosition(l_start);
    logEdit->setTextCursor(l_cursor);
    logEdit->ensureCursorVisible();
}

void ChatLogForm::MarkSearchButtons()
{
    QTextDocument* const lp_document = logEdit->document();
    QString const l_text = searchEdit->text();
    int const l_start = MatchStart();
    searchForwardButton->setEnabled(!lp_document->find(l_text, l_start + 1).isNull());
    searchBackButton->setEnabled(!lp_document->find(l_text, l_start, QTextDocument::FindBackward).isNull());
}

void ChatLogForm::OnSearchForward()
{
    QString const l_text = searchEdit->text();
    if (l_text.isEmpty())
        return;
    logEdit->setUpdatesEnabled(false);
    QTextCursor const l_next = logEdit->document()->find(l_text, MatchStart() + 1);
    if (l_next.isNull()) {
        // The cursor was moved by a click past the last match: nothing further to show.
        MarkSearchButtons();
    } else {
        logEdit->setTextCursor(l_next);
        MarkFind();
    }
    logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::OnSearchBack()
{
    QString const l_text = searchEdit->text();
    if (l_text.isEmpty())
        return;
    logEdit->setUpdatesEnabled(false);
    QTextCursor const l_previous =
        logEdit->document()->find(l_text, MatchStart(), QTextDocument::FindBackward);
    if (l_previous.isNull()) {
        MarkSearchButtons();
    } else {
        // MarkFind expects the cursor at the match's end, as a forward find leaves it.
        QTextCursor l_match(logEdit->document());
        l_match.setPosition(l_previous.selectionStart());
        l_match.setPosition(l_previous.selectionEnd(), QTextCursor::KeepAnchor);
        logEdit->setTextCursor(l_match);
        MarkFind();
    }
    logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this)
        return;
    if (i_action == QLatin1String("clear_chat_log")) {
        QMessageBox::StandardButton const l_answer = QMessageBox::question(
            nullptr, QStringLiteral("Clear log?"),
            QStringLiteral("Are you sure you want to erase the contents of this log?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (l_answer != QMessageBox::Yes)
            return;
        // The view is emptied only when the file is really gone: a view that claims a
        // cleared log while the file keeps every line would mislead.
        QFile::remove(m_logPath);
        if (!QFileInfo::exists(m_logPath))
            logEdit->clear();
    } else if (i_action == QLatin1String("open_log_folder")) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_logPath).absolutePath()));
    }
}
