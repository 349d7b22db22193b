#pragma once

// A port chosen in the listening-port dialog, carried over a restart: the dialog stores
// it, the store is saved and loaded again into a client whose peer network starts only
// then, and the client logs in at the fake central server with UPnP on, behind a fake
// gateway. Once per test program: the peer network is built once per process.

#include "DialogTestKit.h"

#include "net/peer/PeerMessenger.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "store/DataSaver.h"
#include "support/FakeGateway.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/StoreServices.h"
#include "ui/dialogs/ChangeListeningPortDialog.h"
#include "ui_ChangeListeningPortDialog.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace PortRestartEnv
{
// Chooses the port, restarts from the store file and logs in. The next port is announced
// as the obfuscated one; it is listened on and mapped only when it is a TCP port.
inline void ChooseAndRestart(int i_port)
{
    StartStoreServices();
    FakeServer l_fake;
    QVERIFY(l_fake.Listen());
    for (auto [lp_key, l_value] : {std::pair{"server_host", QString("127.0.0.1")},
                                   {"server_port", QString::number(l_fake.Port())},
                                   {"username", QString("alice")}, {"password", QString("pw")},
                                   {"listening_port", QString("2234")}, {"use_upnp", QString("yes")}})
        SetSetting(lp_key, l_value);
    Server l_server;
    l_server.CreateData();
    ChangeListeningPortDialog* const lp_dialog = new ChangeListeningPortDialog;
    lp_dialog->Form()->portEdit->setText(QString::number(i_port));
    QString l_box;
    DialogTestKit::AnswerNextBox(&l_box);
    lp_dialog->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
    QVERIFY(l_box.startsWith("Change to Listening Port Pending|"));
    QCOMPARE(GetSettingInt("new_listening_port"), i_port);

    // The next start: the saved store into a client whose peer network is new.
    QTemporaryDir l_folder;
    QVERIFY(dataSaver->Save(l_folder.filePath("store")));
    d.RemoveAllItems();
    PeerMessenger l_messenger;
    FakeGateway l_gateway;
    QVERIFY(l_gateway.Start());
    portForwarder->InitFromDescription(l_gateway.DescriptionUrl());
    QTRY_COMPARE_WITH_TIMEOUT(l_gateway.Requests().size(), 1, 3000);
    dataSaver->Load(l_folder.filePath("store"));

    bool const l_nextIsAPort = i_port < 65535;
    QCOMPARE(GetSetting("listening_port") + " " + GetSetting("obfuscated_listening_port"),
             QString("%1 %2").arg(i_port).arg(i_port + 1));
    QVERIFY(!HasSetting("new_listening_port"));
    QCOMPARE(int(l_messenger.ListeningSocket().serverPort()), i_port);
    QCOMPARE(l_messenger.ObfuscatedListeningSocket().isListening(), l_nextIsAPort);

    QSignalSpy l_connected(&l_server, &Server::Connected);
    l_fake.SetReply(1, FrameBuilder::LoginAccepted());
    l_server.Connect();
    QVERIFY(l_connected.wait(3000) || l_connected.count() > 0);
    QVERIFY(l_fake.WaitForCode(2));
    QCOMPARE(l_fake.FramesWithCode(2)[0].Fields(), FrameBuilder().U32(i_port).U32(1).U32(i_port + 1).Payload());

    QStringList l_expected = {QString::number(i_port)};
    if (l_nextIsAPort)
        l_expected << QString::number(i_port + 1);
    auto const l_mapped = [&] {
        QStringList l_ports;
        for (FakeGateway::Request const& l_request : l_gateway.RequestsFor("AddPortMapping"))
            l_ports << l_request.Argument("NewExternalPort");
        return l_ports;
    };
    QTRY_COMPARE_WITH_TIMEOUT(l_mapped(), l_expected, 5000);
    // Mappings are made in order on one thread: a further one would have come by now.
    QTest::qWait(100);
    QCOMPARE(l_mapped(), l_expected);
    QVERIFY(l_server.IsConnected());
    l_server.Disconnect();
}
} // namespace PortRestartEnv
