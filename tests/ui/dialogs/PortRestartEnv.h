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
#include "ui/dialogs/ChangeListeningPortDialogUi.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace PortRestartEnv
{
inline QByteArray U32(quint32 i_value)
{
    QByteArray l_bytes(4, '\0');
    qToLittleEndian(i_value, l_bytes.data());
    return l_bytes;
}

// Ports the gateway was asked to map, in order.
inline QStringList MappedPorts(FakeGateway const& i_gateway)
{
    QStringList l_ports;
    for (FakeGateway::Request const& l_request : i_gateway.RequestsFor("AddPortMapping"))
        l_ports << l_request.Argument("NewExternalPort");
    return l_ports;
}

// Chooses the port, restarts from the store file and logs in. The obfuscated port is the
// next one when there is a next TCP port; otherwise it is announced all the same but
// neither listened on nor mapped.
inline void ChooseAndRestart(int i_port)
{
    StartStoreServices();
    FakeServer l_fake;
    QVERIFY(l_fake.Listen());
    SetSetting("server_host", "127.0.0.1");
    SetSetting("server_port", QString::number(l_fake.Port()));
    SetSetting("username", "alice");
    SetSetting("password", "pw");
    SetSetting("listening_port", "2234");
    SetSetting("use_upnp", "yes");
    Server l_server;
    l_server.CreateData();

    ChangeListeningPortDialog* const lp_dialog = new ChangeListeningPortDialog;
    lp_dialog->Form()->portEdit->setText(QString::number(i_port));
    QString l_box;
    DialogTestKit::AnswerNextBox(&l_box);
    lp_dialog->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
    QVERIFY(l_box.startsWith("Change to Listening Port Pending|"));
    QCOMPARE(GetSettingInt("new_listening_port"), i_port);
    QCOMPARE(GetSettingInt("listening_port"), 2234);

    // The next start: the saved store into a client whose peer network is new.
    QTemporaryDir l_folder;
    QString const l_path = l_folder.filePath("store");
    QVERIFY(dataSaver->Save(l_path));
    d.RemoveAllItems();
    PeerMessenger l_messenger;
    FakeGateway l_gateway;
    QVERIFY(l_gateway.Start());
    portForwarder->InitFromDescription(l_gateway.DescriptionUrl());
    QTRY_COMPARE_WITH_TIMEOUT(l_gateway.Requests().size(), 1, 3000);
    dataSaver->Load(l_path);

    int const l_next = i_port + 1;
    bool const l_nextIsAPort = l_next <= 65535;
    QCOMPARE(GetSettingInt("listening_port"), i_port);
    QCOMPARE(GetSettingInt("obfuscated_listening_port"), l_next);
    QVERIFY(!HasSetting("new_listening_port"));
    QVERIFY(l_messenger.ListeningSocket().isListening());
    QCOMPARE(int(l_messenger.ListeningSocket().serverPort()), i_port);
    QCOMPARE(l_messenger.ObfuscatedListeningSocket().isListening(), l_nextIsAPort);

    QSignalSpy l_connected(&l_server, &Server::Connected);
    l_fake.SetReply(1, FrameBuilder::LoginAccepted());
    l_server.Connect();
    QVERIFY(l_connected.wait(3000) || l_connected.count() > 0);
    QVERIFY(l_fake.WaitForCode(2));
    QCOMPARE(l_fake.FramesWithCode(2)[0].Fields(), U32(i_port) + U32(1) + U32(l_next));

    QStringList l_mapped = {QString::number(i_port)};
    if (l_nextIsAPort)
        l_mapped << QString::number(l_next);
    QTRY_COMPARE_WITH_TIMEOUT(MappedPorts(l_gateway), l_mapped, 5000);
    // Mappings are made in order on one thread: a further one would have come by now.
    QTest::qWait(100);
    QCOMPARE(MappedPorts(l_gateway), l_mapped);
    QVERIFY(l_server.IsConnected());

    l_server.Disconnect();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
} // namespace PortRestartEnv
