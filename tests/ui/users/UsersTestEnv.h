#pragma once

// Shared set-up of the users and shares UI tests: the transfer fixture (a Server logged
// in as "alice" at a FakeServer, a listening PeerMessenger, the share index and the
// transfer manager, all on loopback), the UI services the forms use and the shares form
// in a shown window.

#include "net/peer/MessageTestEnv.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "transfers/TransferTestEnv.h"
#include "ui/users/SharesForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"
#include "widgets/SizeManager.h"

#include <QVBoxLayout>
#include <QWidget>

namespace UsersTestEnv
{
using namespace MessageTestEnv;
using ShareBytes::FileRecord;

// Message 5: the folders with their file records and an empty attribute table.
inline QByteArray ShareList(QList<QPair<QByteArray, QList<QByteArray>>> const& i_folders)
{
    QByteArray l_body = U32(quint32(i_folders.size()));
    for (auto const& [l_folder, l_files] : i_folders)
    {
        l_body += Text(l_folder) + U32(quint32(l_files.size()));
        for (QByteArray const& l_file : l_files)
            l_body += l_file;
    }
    return Code(5, ShareBytes::Compressed(l_body + U32(0)));
}

// Row texts of a tree, depth shown by two blanks a level and hidden rows marked "-".
inline QStringList Lines(QTreeWidget* ip_tree)
{
    QStringList l_lines;
    std::function<void(QTreeWidgetItem*, int)> l_add = [&](QTreeWidgetItem* ip_row, int i_depth) {
        QStringList l_texts;
        for (int l_column = 0; l_column < ip_tree->columnCount(); ++l_column)
            l_texts << ip_row->text(l_column);
        while (l_texts.size() > 1 && l_texts.last().isEmpty())
            l_texts.removeLast();
        l_lines << QString(i_depth * 2, ' ') + (ip_row->isHidden() ? "-" : "") + l_texts.join("|");
        for (int l_index = 0; l_index < ip_row->childCount(); ++l_index)
            l_add(ip_row->child(l_index), i_depth + 1);
    };
    for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
        l_add(ip_tree->topLevelItem(l_index), 0);
    return l_lines;
}

inline std::size_t Count(char const* i_type)
{
    return d[i_type]->GetItemCount();
}

class UsersFixture
{
public:
    bool SetUp()
    {
        // The fixture logs in before this can write anything; the setting is absent
        // then, which maps no port, and "no" from here on.
        if (!m_transfers.SetUp() || IsSettingYes("use_upnp"))
            return false;
        SetSetting("use_upnp", QStringLiteral("no"));
        new DelayedInvoker();
        new SizeManager();
        auto* const lp_bar = new ActionSetToolBar(&m_window);
        lp_bar->Init();
        new EventToolBar(nullptr, &m_window);
        Type* const lp_note = d.NewType("user_note", Secondary, false, true);
        d["user"]->RelateToType(lp_note, Many, One);
        (new SharesForm(&m_window))->Init();
        auto* const lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(lp_bar);
        lp_layout->addWidget(eventToolBar);
        lp_layout->addWidget(sharesForm);
        m_window.resize(900, 600);
        m_window.show();
        return true;
    }

    void TearDown()
    {
        while (sharesForm->tabControl->count() > 0)
            sharesForm->OnTabCloseRequested(0);
        delete sharesForm;
        m_transfers.TearDown();
    }

    TransferTestEnv::TransferFixture& transfers() { return m_transfers; }
    FakeServer& fake() { return m_transfers.peer().fake(); }
    quint16 PlainPort() { return m_transfers.peer().PlainPort(); }
    QWidget& window() { return m_window; }

private:
    TransferTestEnv::TransferFixture m_transfers;
    QWidget m_window;
};
} // namespace UsersTestEnv
