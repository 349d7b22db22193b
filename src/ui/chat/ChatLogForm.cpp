#include "ui/chat/ChatLogForm.h"

#include "app/ActionSetToolBar.h"
#include "store/Data.h"

#include <QFile>
#include <QVBoxLayout>

namespace
{
// A log that has grown past this is shown from its end: the view must not hold an
// arbitrarily large file.
constexpr qint64 c_maxShownBytes = 4 * 1024 * 1024;
} // namespace

ChatLogForm::ChatLogForm(QString i_path, QWidget* ip_parent)
    : QWidget(ip_parent), mp_logView(new QPlainTextEdit(this))
{
    mp_logView->setReadOnly(true);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(mp_logView);

    QFile l_file(i_path);
    if (l_file.open(QIODevice::ReadOnly))
    {
        if (l_file.size() > c_maxShownBytes)
            l_file.seek(l_file.size() - c_maxShownBytes);
        mp_logView->setPlainText(QString::fromUtf8(l_file.read(c_maxShownBytes)));
    }
    if (actionBar)
        actionBar->RegisterWidget(this, QStringLiteral("chat_log"));
}

ChatLogForm::~ChatLogForm()
{
    if (ItemPtr const l_node = d["chat_log_form"]->HasItem(Value(this)))
        l_node.Remove();
}
