#include "net/peer/PeerMessenger.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "store/Data.h"
#include "store/TimerManager.h"
#include "support/StoreServices.h"

#include <QDateTime>
#include <QMetaMethod>
#include <QTest>

#include <memory>
#include <vector>

namespace
{
struct TypeRow
{
    char const* name;
    Primacy primacy;
    bool isNull;
    bool createOnGet;
};

// The peer network's schema, in declaration order.
TypeRow const c_types[] = {
    {"uninitialized_socket", Primary, false, false},
    {"peer_socket", Primary, false, false},
    {"connection_open_time", Tertiary, false, true},
    {"last_activity_time", Primary, false, true},
    {"is_obfuscated", Tertiary, true, true},
    {"peer_connection_request", Primary, true, false},
    {"peer_connection_request_id", Tertiary, false, true},
    {"peer_connection_type", Tertiary, false, true},
    {"peer_connection_request_socket", Primary, false, false},
    {"user_address", Tertiary, false, true},
    {"user_port", Tertiary, false, true},
    {"user_obfuscated_port", Tertiary, false, true},
    {"socket_creation_time", Tertiary, false, true},
    {"search_request", Primary, false, false},
    {"search_request_text", Primary, false, true},
    {"wishlist_search", Tertiary, true, true},
    {"search_results", Primary, true, true},
    {"search_result", Secondary, true, true},
    {"search_results_user_available", Tertiary, false, true},
    {"search_results_user_speed", Tertiary, false, true},
    {"search_results_uploads_in_queue", Tertiary, false, true},
    {"search_result_file_name", Tertiary, false, true},
    {"search_result_file_folder", Tertiary, false, true},
    {"file_size", Tertiary, false, true},
    {"search_correlation", Secondary, true, true},
    {"correlation_text", Tertiary, false, true},
    {"correlation_rank", Tertiary, false, true},
    {"mpeg_version", Tertiary, false, true},
    {"channel_mode", Tertiary, false, true},
    {"audio_frequency", Tertiary, false, true},
    {"bitrate_mode", Tertiary, false, true},
    {"bitrate", Tertiary, false, true},
    {"length_seconds", Tertiary, false, true},
    {"unsent_message", Primary, false, true},
    {"send_order", Tertiary, false, true},
    {"send_time", Tertiary, false, true},
    {"connect_to_peer_request", Primary, true, true},
    {"connect_to_peer_request_status", Tertiary, false, true},
    {"connect_to_peer_request_socket", Primary, false, true},
    {"indirect_connect_to_peer_request", Primary, false, true},
};

struct RelationRow
{
    char const* a;
    char const* b;
    OneOrMany perA; // how many B one A may have
    OneOrMany perB; // how many A one B may have
    bool owns;
};

RelationRow const c_relations[] = {
    {"peer_socket", "user", One, Many, false},
    {"peer_socket", "connection_open_time", One, Many, false},
    {"peer_socket", "last_activity_time", One, Many, false},
    {"peer_socket", "is_obfuscated", One, Many, false},
    {"uninitialized_socket", "is_obfuscated", One, Many, false},
    {"peer_connection_request", "peer_connection_request_id", One, Many, false},
    {"peer_connection_request", "peer_connection_request_socket", One, One, false},
    {"peer_connection_request", "user", One, Many, false},
    {"peer_connection_request", "peer_connection_type", One, Many, false},
    {"peer_connection_request", "is_obfuscated", One, Many, false},
    {"peer_connection_request_socket", "socket_creation_time", One, Many, false},
    {"user", "user_address", One, Many, false},
    {"user", "user_port", One, Many, false},
    {"user", "user_obfuscated_port", One, Many, false},
    {"search_request", "search_request_text", One, Many, false},
    {"search_request", "wishlist_search", One, Many, false},
    {"search_request", "search_results", Many, One, true},
    {"search_results", "search_result", Many, One, true},
    {"search_results", "user", One, Many, false},
    {"search_results", "search_results_user_available", One, Many, false},
    {"search_results", "search_results_user_speed", One, Many, false},
    {"search_results", "search_results_uploads_in_queue", One, Many, false},
    {"search_result", "search_result_file_name", One, Many, false},
    {"search_result", "search_result_file_folder", One, Many, false},
    {"search_result", "file_size", One, Many, false},
    {"search_request_text", "search_correlation", Many, One, false},
    {"search_correlation", "correlation_text", One, Many, false},
    {"search_correlation", "correlation_rank", One, Many, false},
    {"search_result", "bitrate_mode", One, Many, false},
    {"search_result", "bitrate", One, Many, false},
    {"search_result", "length_seconds", One, Many, false},
    {"unsent_message", "user", One, Many, false},
    {"unsent_message", "send_order", One, One, false},
    {"unsent_message", "send_time", One, Many, false},
    {"connect_to_peer_request", "connect_to_peer_request_status", One, Many, false},
    {"connect_to_peer_request", "connect_to_peer_request_socket", One, One, false},
    {"connect_to_peer_request", "user", One, Many, false},
    {"connect_to_peer_request", "peer_connection_type", One, Many, false},
    {"connect_to_peer_request", "indirect_connect_to_peer_request", One, One, false},
    {"connect_to_peer_request_socket", "socket_creation_time", One, Many, false},
    {"indirect_connect_to_peer_request", "send_time", One, Many, false},
    {"connect_to_peer_request_socket", "user", One, Many, false},
    {"connect_to_peer_request_socket", "peer_connection_type", One, Many, false},
    {"connect_to_peer_request_socket", "is_obfuscated", One, Many, false},
    {"indirect_connect_to_peer_request", "user", One, Many, false},
    {"indirect_connect_to_peer_request", "peer_connection_type", One, Many, false},
};

// Records the names of types as the store announces them.
class TypeRecorder : public DataHandler
{
public:
    void OnTypeAdded(Type* ip_type) { m_names.push_back(ip_type->Name()); }
    std::vector<std::string> m_names;
};
} // namespace

class TestPeerConstruction : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void declaresTheTypesInOrder();
    void declaresTheRelations();
    void leavesMp3TypesUnrelated();
    void registersHandlersAndConnections();
    void startsEmptyAndQuiet();
    void givesEveryPeerSocketAnActivityCell();
    void secondInstanceFailsOnRepeatedType();
    void exposesSignalsAndSlotsWithStandardTypes();

private:
    TypeRecorder m_recorder;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<PeerMessenger> mp_messenger;
    std::size_t m_pathRegistrationsBefore = 0;
};

void TestPeerConstruction::initTestCase()
{
    StartStoreServices();
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();

    m_pathRegistrationsBefore = d.m_pathRegistrations.size();
    d.m_typeAddedEvent.AddHandler(m_recorder.CreateHandler(&m_recorder, &TypeRecorder::OnTypeAdded));
    mp_messenger = std::make_unique<PeerMessenger>();
    m_recorder.RemoveDataHandlers();
}

void TestPeerConstruction::cleanupTestCase()
{
    mp_messenger.reset();
    QVERIFY(peerMessenger == nullptr);
    QVERIFY(g_peerMessengerDeleted);
    mp_server.reset();
    delete portForwarder;
}

void TestPeerConstruction::declaresTheTypesInOrder()
{
    QCOMPARE(m_recorder.m_names.size(), std::size(c_types));
    for (std::size_t l_index = 0; l_index < std::size(c_types); ++l_index)
    {
        TypeRow const& l_row = c_types[l_index];
        QCOMPARE(m_recorder.m_names[l_index], std::string(l_row.name));
        Type* lp_type = d[l_row.name];
        QVERIFY2(lp_type->GetPrimacy() == l_row.primacy, l_row.name);
        QVERIFY2(lp_type->IsNull() == l_row.isNull, l_row.name);
        QVERIFY2(lp_type->IsCreateOnGet() == l_row.createOnGet, l_row.name);
    }
    QCOMPARE(peerMessenger, mp_messenger.get());
}

void TestPeerConstruction::declaresTheRelations()
{
    for (RelationRow const& l_row : c_relations)
    {
        QByteArray const l_what = QByteArray(l_row.a) + " - " + l_row.b;
        RelationInfo const& l_aSide = d[l_row.a]->GetRelation(d[l_row.b]);
        RelationInfo const& l_bSide = d[l_row.b]->GetRelation(d[l_row.a]);
        QVERIFY2(l_aSide.m_otherOneOrMany == l_row.perA, l_what);
        QVERIFY2(l_aSide.m_thisOneOrMany == l_row.perB, l_what);
        QVERIFY2(l_aSide.m_owns == l_row.owns && !l_aSide.m_ownedBy, l_what);
        QVERIFY2(l_bSide.m_otherOneOrMany == l_row.perB, l_what);
        QVERIFY2(l_bSide.m_thisOneOrMany == l_row.perA, l_what);
        QVERIFY2(l_bSide.m_ownedBy == l_row.owns && !l_bSide.m_owns, l_what);
    }

    // Nothing beyond the table touches the new types.
    std::set<Type*> l_ours;
    for (TypeRow const& l_row : c_types)
        l_ours.insert(d[l_row.name]);
    std::set<std::pair<Type*, Type*>> l_pairs;
    for (Type* lp_type : l_ours)
        for (auto const& [lp_other, l_info] : lp_type->Relations())
            l_pairs.insert(std::minmax(lp_type, lp_other));
    QCOMPARE(l_pairs.size(), std::size(c_relations));
}

void TestPeerConstruction::leavesMp3TypesUnrelated()
{
    for (char const* lp_name : {"mpeg_version", "channel_mode", "audio_frequency"})
        QVERIFY2(d[lp_name]->Relations().empty(), lp_name);
    QVERIFY(!d["length_seconds"]->Relations().empty());
}

void TestPeerConstruction::registersHandlersAndConnections()
{
    // Two path patterns: a relayed request with its user's address, and a user's address.
    QCOMPARE(d.m_pathRegistrations.size(), m_pathRegistrationsBefore + 2);
    auto const l_userAddress = d.m_pathConnectionHandlers.find({d["user"], d["user_address"]});
    QVERIFY(l_userAddress != d.m_pathConnectionHandlers.end());
    QCOMPARE(l_userAddress->second.size(), std::size_t(2));
    QVERIFY(d.m_pathConnectionHandlers.count({d["peer_connection_request"], d["user"]}) == 1);

    QCOMPARE(d["peer_socket"]->m_itemAddedEvent.Count(), std::size_t(1));
    QCOMPARE(d["peer_socket"]->m_itemRemovedEvent.Count(), std::size_t(1));

    // Disconnecting reports whether the connection was there; each is restored.
    QVERIFY(QObject::disconnect(gp_server, &Server::Connected, peerMessenger,
                                &PeerMessenger::OnConnectedToServer));
    connect(gp_server, &Server::Connected, peerMessenger, &PeerMessenger::OnConnectedToServer);
    QVERIFY(QObject::disconnect(gp_server, &Server::IndirectPeerConnectionFailure, peerMessenger,
                                &PeerMessenger::OnIndirectPeerConnectionFailure));
    connect(gp_server, &Server::IndirectPeerConnectionFailure, peerMessenger,
            &PeerMessenger::OnIndirectPeerConnectionFailure);
    QVERIFY(QObject::disconnect(timerManager->everyHalfMinute(), &QTimer::timeout, peerMessenger,
                                &PeerMessenger::EveryHalfMinute));
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, peerMessenger,
            &PeerMessenger::EveryHalfMinute);
}

void TestPeerConstruction::startsEmptyAndQuiet()
{
    for (TypeRow const& l_row : c_types)
        QVERIFY2(d[l_row.name]->GetItemCount() == 0, l_row.name);
    QVERIFY(!g_peerMessengerDeleted);
}

void TestPeerConstruction::givesEveryPeerSocketAnActivityCell()
{
    QDateTime const l_before = QDateTime::currentDateTime();
    int l_dummy = 0;
    ItemPtr const l_socket = d["peer_socket"]->NewItem(Value(&l_dummy));
    ItemPtr const l_cell = l_socket["last_activity_time"];
    QVERIFY(l_cell.IsNotNull());
    QDateTime* lp_time = l_cell.AsPtr<QDateTime>();
    QVERIFY(lp_time != nullptr);
    QVERIFY(*lp_time >= l_before && *lp_time <= QDateTime::currentDateTime());

    // A second socket gets a cell of its own.
    int l_other = 0;
    ItemPtr const l_second = d["peer_socket"]->NewItem(Value(&l_other));
    QVERIFY(l_second["last_activity_time"] != l_cell);

    for (ItemPtr l_item : {l_socket, l_second})
    {
        ItemPtr const l_time = l_item["last_activity_time"];
        Value const l_value = l_time.GetValue();
        l_item.Remove();
        // Freed by the removal handler once that exists; otherwise freed here.
        if (ItemPtr const l_left = d["last_activity_time"]->HasItem(l_value))
        {
            delete l_left.AsPtr<QDateTime>();
            l_left.Remove();
        }
    }
}

void TestPeerConstruction::secondInstanceFailsOnRepeatedType()
{
    bool l_thrown = false;
    try
    {
        PeerMessenger l_second;
    }
    catch (TypeAlreadyExistsException* lp_exception)
    {
        delete lp_exception;
        l_thrown = true;
    }
    QVERIFY(l_thrown);
    // The failed instance had already claimed the global pointer.
    peerMessenger = mp_messenger.get();
    QCOMPARE(m_recorder.m_names.size(), std::size(c_types));
}

void TestPeerConstruction::exposesSignalsAndSlotsWithStandardTypes()
{
    QMetaObject const& l_meta = PeerMessenger::staticMetaObject;
    QStringList l_signals;
    QStringList l_slots;
    for (int l_index = l_meta.methodOffset(); l_index < l_meta.methodCount(); ++l_index)
    {
        QMetaMethod const l_method = l_meta.method(l_index);
        if (l_method.methodType() == QMetaMethod::Signal)
            l_signals << QString::fromLatin1(l_method.methodSignature());
        else if (l_method.methodType() == QMetaMethod::Slot)
            l_slots << QString::fromLatin1(l_method.methodSignature());
    }
    QCOMPARE(l_signals,
             QStringList({"SearchResults(ItemPtr)",
                          "FileConnectionRequested(QString,QTcpSocket*,uint)",
                          "UserShare(QString,FileInfoMap&,AttributeTranslationTable&)",
                          "FileTransferRequested(QString,int,uint,std::string,qlonglong)",
                          "QueueUploadRequested(QString,QString)",
                          "FileConnectionAccepted(QString,QTcpSocket*)",
                          "FileTransferResponse(QString,uint,bool,bool,qlonglong,QString)",
                          "DNetConnectionRequested(QString,QTcpSocket*)",
                          "DNetConnectionAccepted(QString,QTcpSocket*)",
                          "UploadFailed(QString,std::string)",
                          "UploadDenied(QString,std::string,QString)",
                          "SharedFilesInFolderRequested(QString,uint,QString)",
                          "DownloadPlaceInLine(QString,std::string,int)",
                          "ConnectionToUserFailed(QString,QString)",
                          "UploadPlaceInLineRequested(QString,QString)",
                          "QueueDownloadRequested(QString,std::string,qlonglong)"}));
    QCOMPARE(l_slots,
             QStringList({"OnNewConnection()", "OnNewObfuscatedConnection()",
                          "OnConnectedToServer()", "OnSocketReadyToRead()", "OnSocketClosed()",
                          "OnSocketError(QAbstractSocket::SocketError)",
                          "OnIndirectResponseSocketConnected()",
                          "OnConnectToPeerSocketConnected()",
                          "OnConnectToPeerSocketError(QAbstractSocket::SocketError)",
                          "OnIndirectPeerConnectionFailure(uint)", "EveryHalfMinute()"}));
    QMetaMethod const l_requested =
        QMetaMethod::fromSignal(&PeerMessenger::FileConnectionRequested);
    QCOMPARE(l_requested.parameterNames(),
             QList<QByteArray>({"i_user", "ip_socket", "i_requestID"}));
}

QTEST_GUILESS_MAIN(TestPeerConstruction)
#include "tst_peer_construction.moc"
