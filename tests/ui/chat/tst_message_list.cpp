// The private message list: rows moved to the top, one per user, and the records saved
// and read back into a second form. Its own program with no server connection, so that
// the store saver's load calls no handler of an earlier test.

#include "ui/chat/ChatLines.h"
#include "ui/chat/MessageListForm.h"

#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/StoreServices.h"

#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace
{
QStringList Column(QTreeWidget& i_tree, int i_column)
{
    QStringList l_texts;
    for (int l_row = 0; l_row < i_tree.topLevelItemCount(); ++l_row)
        l_texts << i_tree.topLevelItem(l_row)->text(i_column);
    return l_texts;
}
} // namespace

class TestMessageList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        StartStoreServices();
        d.NewType("user", Primary, false, true);
        SetSetting("username", "alice");
    }
    void messageList();
};

void TestMessageList::messageList()
{
    QTemporaryDir l_dir;
    QString const l_store = l_dir.filePath("store");
    qint64 const l_base = 1700000000;
    {
        MessageListForm l_first;
        l_first.Init();
        l_first.OnPrivateChat("zed", "first", l_base, false);
        l_first.OnPrivateChat("amy", "hello", l_base + 10, true);
        l_first.OnPrivateChatSent("zed", "reply");
        l_first.OnPrivateChat("bo", "hi", l_base + 5, false);
        QCOMPARE(Column(*l_first.messageList, 1), (QStringList{"bo", "zed", "amy"}));
        QCOMPARE(Column(*l_first.messageList, 2), (QStringList{"[bo] hi", "[alice] reply", "[amy] hello"}));
        QCOMPARE(l_first.messageList->topLevelItem(2)->text(0), ChatLines::LongTime(QDateTime::fromSecsSinceEpoch(l_base + 10)));
        QVERIFY(dataSaver->Save(l_store));
    }
    g("private_message").Remove();

    // A second form declares nothing again; the first, gone, is never called.
    MessageListForm l_second;
    l_second.Init();
    dataSaver->Load(l_store);
    QCOMPARE(d["private_message"]->GetItemCount(), std::size_t(4));
    // By the newest message's time: the reply was sent now, after every received one.
    QCOMPARE(Column(*l_second.messageList, 1), (QStringList{"zed", "amy", "bo"}));
    QCOMPARE(Column(*l_second.messageList, 2), (QStringList{"[alice] reply", "[amy] hello", "[bo] hi"}));
}

QTEST_MAIN(TestMessageList)
#include "tst_message_list.moc"
