#pragma once

// Shared set-up of the search form tests: the transfer fixture (a Server logged in as
// "alice" at a FakeServer, a listening PeerMessenger, the share index and the transfer
// manager), the UI services the form uses, the wish-list types the main window
// declares, and the form itself in a shown window. Replies come from fake peers as
// hand-built message 9 bodies.

#include "net/peer/MessageTestEnv.h"
#include "store/DelayedInvoker.h"
#include "transfers/TransferTestEnv.h"
#include "ui/search/SearchForm.h"
#include "ui/search/SearchResultsForm.h"
#include "ui/users/SharesForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"
#include "widgets/SizeManager.h"

#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace SearchTestEnv
{
using namespace MessageTestEnv;
using ShareBytes::FileRecord;

// What the main window declares for the wish list before the form exists.
inline void DeclareWishTypes()
{
    Type* const lp_wish = d.NewType("wish_list_item", Primary, false, true);
    lp_wish->RelateToType(d.NewType("wish_list_item_enabled", Tertiary, true, true), Many, One);
    dataSaver->AddSavedType("wish_list_item");
    dataSaver->AddSavedType("wish_list_item_enabled");
}

// Message 9: user, ticket, the file records, free slot, speed, queue and an empty
// attribute table, compressed.
inline QByteArray Reply(QByteArray const& i_user, quint32 i_ticket, QList<QByteArray> const& i_records,
                        quint8 i_free, quint32 i_speed, quint32 i_queue)
{
    QByteArray l_body = Text(i_user) + U32(i_ticket) + U32(quint32(i_records.size()));
    for (QByteArray const& l_record : i_records)
        l_body += l_record;
    l_body += U8(i_free) + U32(i_speed) + U32(i_queue) + U32(0);
    return Code(9, ShareBytes::Compressed(l_body));
}

// Row texts in columns 0 to 6 joined by "|", trailing empty columns dropped.
inline QString Texts(QTreeWidgetItem* ip_row)
{
    QStringList l_texts;
    for (int l_column = 0; l_column < 7; ++l_column)
        l_texts << ip_row->text(l_column);
    while (!l_texts.isEmpty() && l_texts.last().isEmpty())
        l_texts.removeLast();
    return l_texts.join("|");
}

// The tree as lines: users, "  " folders, "    " files; hidden rows marked "-".
inline QStringList Lines(QTreeWidget* ip_tree)
{
    QStringList l_lines;
    std::function<void(QTreeWidgetItem*, int)> l_add = [&](QTreeWidgetItem* ip_row, int i_depth) {
        l_lines << QString(i_depth * 2, ' ') + (ip_row->isHidden() ? "-" : "") + Texts(ip_row);
        for (int l_index = 0; l_index < ip_row->childCount(); ++l_index)
            l_add(ip_row->child(l_index), i_depth + 1);
    };
    for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
        l_add(ip_tree->topLevelItem(l_index), 0);
    return l_lines;
}

class SearchFixture
{
public:
    bool SetUp()
    {
        if (!m_transfers.SetUp())
            return false;
        new DelayedInvoker();
        new SizeManager();
        auto* const lp_bar = new ActionSetToolBar(&m_window);
        lp_bar->Init();
        new EventToolBar(nullptr, &m_window);
        DeclareWishTypes();
        (new SharesForm(&m_window))->Init();
        mp_form = new SearchForm(&m_window);
        mp_form->Init();
        mp_form->DataLoaded();
        auto* const lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(lp_bar);
        lp_layout->addWidget(eventToolBar);
        lp_layout->addWidget(mp_form);
        lp_layout->addWidget(sharesForm);
        m_window.resize(1000, 700);
        m_window.show();
        m_window.activateWindow();
        mp_recorder = std::make_unique<Recorder>();
        return QTest::qWaitForWindowExposed(&m_window);
    }

    void TearDown()
    {
        mp_recorder.reset();
        delete mp_form;
        ClearConnections();
        m_transfers.TearDown();
    }

    // Types the text into the search line and presses Enter; returns the newest tab.
    SearchResultsForm* Search(QString const& i_text)
    {
        auto* const lp_edit = Child<QLineEdit>("searchEdit");
        lp_edit->setText(i_text);
        QTest::keyClick(lp_edit, Qt::Key_Return);
        return Tab(ManualTabs(), ManualTabs()->count() - 1);
    }
    // Sends a reply and waits until the client has handled it.
    bool Send(FakePeer& io_peer, QByteArray const& i_reply)
    {
        return SendAndSettle(*mp_recorder, io_peer, i_reply, false);
    }

    SearchForm& form() { return *mp_form; }
    FakeServer& server() { return m_transfers.peer().fake(); }
    quint16 PeerPort() { return m_transfers.peer().PlainPort(); }
    QWidget& window() { return m_window; }

    template <class W> W* Child(char const* ip_name) { return mp_form->findChild<W*>(ip_name); }
    QTabWidget* ManualTabs() { return Child<QTabWidget>("searchTabControl"); }
    QTabWidget* WishTabs() { return Child<QTabWidget>("wishListTabControl"); }
    QTreeWidget* WishList() { return Child<QTreeWidget>("wishList"); }
    SearchResultsForm* Tab(QTabWidget* ip_tabs, int i_index)
    {
        return qobject_cast<SearchResultsForm*>(ip_tabs->widget(i_index));
    }

private:
    TransferTestEnv::TransferFixture m_transfers;
    QWidget m_window;
    SearchForm* mp_form = nullptr;
    std::unique_ptr<Recorder> mp_recorder;
};
} // namespace SearchTestEnv
