// Browsing other users' shares as the rest of the client uses it: one browse tab per
// user, with one request for the user's share list.

#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/StoreServices.h"
#include "ui/users/ShareForm.h"
#include "ui/users/SharesForm.h"

#include <QtTest>

class TestShareForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void oneBrowseTabPerUserAndOneRequest();

private:
    FakeServer m_fake;
};

void TestShareForms::initTestCase()
{
    StartStoreServices();
    new Server();
    gp_server->CreateData();
    new PeerMessenger();
    QVERIFY(m_fake.Listen());
    m_fake.SetReply(1, FrameBuilder::LoginAccepted());
    SetSetting("server_host", QStringLiteral("127.0.0.1"));
    SetSetting("server_port", QString::number(m_fake.Port()));
    SetSetting("username", QStringLiteral("mia"));
    gp_server->Connect();
    QTRY_VERIFY(gp_server->IsConnected());
}

void TestShareForms::cleanupTestCase()
{
    // Requests still waiting for their users expire with the half-minute sweep.
    ItemPtr const l_longAgo =
        d["send_time"]->GetItem(Value(PeerTimeStamp(QDateTime::currentDateTime().addSecs(-3600))));
    for (ItemPtr const& l_unsent : d["unsent_message"]->GetItems())
        l_unsent += l_longAgo;
    peerMessenger->EveryHalfMinute();
    QCOMPARE(d["unsent_message"]->GetItemCount(), std::size_t(0));
    delete peerMessenger;
    delete gp_server;
}

void TestShareForms::oneBrowseTabPerUserAndOneRequest()
{
    SharesForm l_shares;
    QCOMPARE(sharesForm, &l_shares);
    m_fake.ClearFrames();
    ShareForm* const lp_ned = l_shares.OpenShareBrowse(QStringLiteral("ned"));
    ShareForm* const lp_ola = l_shares.OpenShareBrowse(QStringLiteral("ola"));
    QCOMPARE(l_shares.OpenShareBrowse(QStringLiteral("ned")), lp_ned);
    QVERIFY(lp_ned && lp_ola && lp_ned != lp_ola);
    QCOMPARE(l_shares.findChildren<ShareForm*>().size(), 2);
    // The list is asked for once per user, not once per opening: without a connection
    // to the user the request waits, and the server is asked where the user is.
    m_fake.Idle(100);
    QCOMPARE(m_fake.FramesWithCode(3).size(), 2);
    for (char const* l_user : {"ned", "ola"})
        QCOMPARE(d["user"]->GetItem(Value(l_user)).GetItems("unsent_message").size(), std::size_t(1));
}

QTEST_MAIN(TestShareForms)
#include "tst_share_forms.moc"
